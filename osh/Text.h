#pragma once
// Text conversions shared by the whole program. Free of Windows headers.
#include <string>

namespace osh {

// Wide text into the narrow text that log lines, exception contexts and the result file
// carry: UTF-8, so paths and names in any script stay intact.
std::string Narrow(const std::wstring& text);

// Narrow text into wide text: UTF-8 when the whole text is valid UTF-8, else one character
// per byte (bytes 0-255 map to U+0000-U+00FF), so a stray byte never turns into garbage.
std::wstring Widen(const std::string& text);

// True when text is well-formed UTF-8 (ASCII included).
bool IsUtf8(const std::string& text);

// UTF-8 <-> UTF-16, for texts that leave or enter the program as UTF-8 (configuration).
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Folds the ASCII letters A-Z to lower case and leaves every other unit as it is.
std::wstring ToLowerAscii(std::wstring text);
std::string ToLowerAscii(std::string text);

// Equality ignoring the case of the ASCII letters A-Z only.
bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b);

}  // namespace osh
