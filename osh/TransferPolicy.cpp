#include "osh/TransferPolicy.h"

#include <wininet.h>

#include <cwctype>

namespace osh {

namespace {

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    for (size_t i = 0; prefix[i] != L'\0'; ++i) {
        if (i >= text.size() || std::towlower(text[i]) != std::towlower(prefix[i])) return false;
    }
    return true;
}

// Digits only, at least one; a value too large for 64 bits stays at the largest one.
bool ParseDigits(const std::wstring& text, size_t& at, std::uint64_t& value)
{
    const size_t first = at;
    value = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - L'0');
        value = value > (UINT64_MAX - digit) / 10 ? UINT64_MAX : value * 10 + digit;
        ++at;
    }
    return at > first;
}

}  // namespace

StatusVerdict JudgeStatus(DWORD status)
{
    switch (status) {
    case 200:
    case 206:
        return StatusVerdict::Success;
    case 301:
    case 302:
    case 303:
    case 307:
    case 308:
        return StatusVerdict::Redirect;
    default:
        return status >= 500 && status <= 599 ? StatusVerdict::Retry : StatusVerdict::Fail;
    }
}

bool IsRetryableError(DWORD internetError)
{
    switch (internetError) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return true;
    default:
        return false;
    }
}

DWORD RetryPauseMilliseconds(int retry, DWORD retryAfterSeconds)
{
    if (retryAfterSeconds > 0) return (retryAfterSeconds < kRetryAfterCapSeconds ? retryAfterSeconds : kRetryAfterCapSeconds) * 1000;
    const int exponent = retry < 1 ? 0 : (retry > 8 ? 7 : retry - 1);
    return 1000u << exponent;
}

DWORD ParseRetryAfter(const std::wstring& value)
{
    size_t at = 0;
    while (at < value.size() && value[at] == L' ') ++at;
    std::uint64_t seconds = 0;
    if (!ParseDigits(value, at, seconds)) return 0;
    while (at < value.size() && value[at] == L' ') ++at;
    if (at != value.size()) return 0;
    return seconds > kRetryAfterCapSeconds ? kRetryAfterCapSeconds : static_cast<DWORD>(seconds);
}

std::string RedirectRefusal(const std::wstring& from, const std::wstring& to, int followed,
                            const std::set<std::wstring>& visited)
{
    if (!StartsWithNoCase(to, L"http://") && !StartsWithNoCase(to, L"https://"))
        return "a redirection to an address that is not http or https";
    // A secure transfer must not be handed to an unprotected server.
    if (StartsWithNoCase(from, L"https://") && !StartsWithNoCase(to, L"https://"))
        return "a redirection from https to http was refused";
    if (visited.count(to) != 0) return "a redirection loop";
    if (followed >= kMaxRedirects) return "too many redirections";
    return std::string();
}

ResumeVerdict JudgeResume(std::uint64_t offset, DWORD status, std::uint64_t rangeStart)
{
    if (offset == 0 || status != 206) return ResumeVerdict::StartOver;
    return rangeStart == offset ? ResumeVerdict::Append : ResumeVerdict::AskWhole;
}

bool ParseContentRangeStart(const std::wstring& value, std::uint64_t& start)
{
    if (!StartsWithNoCase(value, L"bytes ")) return false;
    size_t at = 6;
    while (at < value.size() && value[at] == L' ') ++at;
    return ParseDigits(value, at, start) && at < value.size() && value[at] == L'-';
}

DWORD NextReadSize(DWORD previous, DWORD previousMilliseconds, DWORD available)
{
    DWORD size = 0;
    if (previousMilliseconds <= kQuickReadMilliseconds) size = previous > kMaxReadBytes / 2 ? kMaxReadBytes : previous * 2;
    if (size < available) size = available;
    if (size > kMaxReadBytes) size = kMaxReadBytes;
    return size != 0 ? size : 1;
}

}  // namespace osh
