#include "sequence/ItemIntegrity.h"

#include "osh/Text.h"

#include <limits>

namespace {

bool IsDecimalDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

bool IsHexDigit(wchar_t c) { return IsDecimalDigit(c) || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

}  // namespace

bool ParseItemSize(const std::wstring& text, std::uint64_t& bytes)
{
    bytes = 0;
    if (text.empty()) return false;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (wchar_t c : text) {
        if (!IsDecimalDigit(c)) return false;
        const unsigned digit = static_cast<unsigned>(c - L'0');
        if (value > (kMax - digit) / 10) return false;
        value = value * 10 + digit;
    }
    bytes = value;
    return true;
}

bool IsSha256Text(const std::wstring& text)
{
    if (text.size() != 64) return false;
    for (wchar_t c : text) {
        if (!IsHexDigit(c)) return false;
    }
    return true;
}

std::string ItemIntegrityDefect(const InstallItem& item)
{
    const std::string name = "Install item \"" + osh::Narrow(item.Filename) + "\"";
    std::uint64_t bytes = 0;
    if (!item.Size.empty() && !ParseItemSize(item.Size, bytes))
        return name + " has a malformed Size \"" + osh::Narrow(item.Size) +
               "\" (expected a decimal number of bytes); its file cannot pass verification";
    if (!item.Sha256.empty() && !IsSha256Text(item.Sha256))
        return name + " has a malformed Sha256 \"" + osh::Narrow(item.Sha256) +
               "\" (expected 64 hexadecimal digits); its file cannot pass verification";
    return std::string();
}

bool DigestsEqual(const std::wstring& expected, const std::wstring& computed)
{
    return osh::ToLowerAscii(expected) == osh::ToLowerAscii(computed);
}

bool SizeMatches(const InstallItem& item, std::uint64_t fileBytes)
{
    if (item.Size.empty()) return true;
    std::uint64_t promised = 0;
    return ParseItemSize(item.Size, promised) && promised == fileBytes;
}
