#pragma once
// Text conversions shared by the whole program. Free of Windows headers.
#include <string>

namespace osh {

// Wide text into narrow text one code unit at a time (the low byte of each unit), as
// log lines and exception contexts carry it.
std::string Narrow(const std::wstring& text);

// Narrow text into wide text one character at a time (bytes 0-255 map to U+0000-U+00FF).
std::wstring Widen(const std::string& text);

// UTF-8 <-> UTF-16, for texts that leave or enter the program as UTF-8 (configuration).
std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Folds the ASCII letters A-Z to lower case and leaves every other unit as it is.
std::wstring ToLowerAscii(std::wstring text);
std::string ToLowerAscii(std::string text);

// Equality ignoring the case of the ASCII letters A-Z only.
bool EqualsIgnoreAsciiCase(const std::wstring& a, const std::wstring& b);

}  // namespace osh
