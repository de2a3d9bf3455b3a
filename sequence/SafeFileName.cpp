#include "sequence/SafeFileName.h"

#include "osh/Text.h"

#include <stdexcept>

namespace {

bool IsAllowedCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'_' || c == L'-' || c == L'+';
}

wchar_t AsciiUpper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Windows opens the device, not a file, for these names, whatever extension follows.
bool IsReservedDeviceName(const std::wstring& name)
{
    std::wstring stem = name.substr(0, name.find(L'.'));
    for (wchar_t& c : stem) c = AsciiUpper(c);
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

}  // namespace

bool IsSafeFileName(const std::wstring& name)
{
    // Windows drops trailing dots, so "x." names "x" and "." or ".." the directory itself
    // or its parent.
    if (name.empty() || name.back() == L'.') return false;
    for (wchar_t c : name) {
        if (!IsAllowedCharacter(c)) return false;
    }
    return !IsReservedDeviceName(name);
}

void RequireSafeFileName(const InstallItem& item)
{
    if (!IsSafeFileName(item.Filename)) {
        throw std::runtime_error("Install item has an unsafe file name \"" + osh::Narrow(item.Filename) + "\"");
    }
}
