#pragma once
// Comparison of dotted decimal version texts ("5.0.1035.10828"). Free of Windows headers.
#include <string>

namespace ziz {

// True when candidate is numerically greater than best at the first part where they
// differ. Running out of parts on either side without a difference is not newer, so
// 5.0.1 is not newer than 5.0. A candidate with any part that is not an unsigned decimal
// number is never newer: a malformed document must never trigger a hand-over. A part of
// best that is not a number, met before a difference, also answers "not newer".
bool IsNewerVersion(const std::wstring& candidate, const std::wstring& best);

// True when every part of the text is an unsigned decimal number of at most 18 digits,
// the only versions IsNewerVersion can place.
bool IsVersionText(const std::wstring& text);

}  // namespace ziz
