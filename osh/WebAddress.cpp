#include "osh/WebAddress.h"

#include "osh/Log.h"
#include "osh/Text.h"

#include <stdexcept>
#include <utility>

// Set by the build: 1 where test servers may be named (tests on, or allowed explicitly).
#ifndef NORLO_PLAIN_HTTP
#error "NORLO_PLAIN_HTTP must say whether plain http is accepted"
#endif

namespace osh {

namespace {

bool g_plainHttpAccepted = NORLO_PLAIN_HTTP != 0;

bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }

bool IsSchemeCharacter(wchar_t c)
{
    return IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

bool StartsWith(const std::wstring& text, std::size_t at, const wchar_t* prefix)
{
    return text.compare(at, std::wstring(prefix).size(), prefix) == 0;
}

// The host part after "scheme://", up to the path, query or fragment.
std::wstring HostPart(const std::wstring& url, std::size_t authorityStart)
{
    const std::size_t end = url.find_first_of(L"/?#\\", authorityStart);
    std::wstring authority = url.substr(authorityStart, end == std::wstring::npos ? std::wstring::npos : end - authorityStart);
    const std::size_t at = authority.rfind(L'@');
    if (at != std::wstring::npos) authority.erase(0, at + 1);
    return authority;
}

}  // namespace

std::wstring AddressScheme(const std::wstring& url)
{
    const std::size_t colon = url.find(L':');
    if (colon == std::wstring::npos || colon == 0 || !IsAsciiLetter(url[0])) return std::wstring();
    for (std::size_t i = 0; i < colon; ++i) {
        if (!IsSchemeCharacter(url[i])) return std::wstring();
    }
    return ToLowerAscii(url.substr(0, colon));
}

std::string WebAddressRefusal(const std::wstring& url)
{
    const std::string refused = "Refused address \"" + Narrow(url) + "\": ";
    const std::wstring scheme = AddressScheme(url);
    if (scheme.empty()) {
        if (StartsWith(url, 0, L"\\\\") || StartsWith(url, 0, L"//"))
            return refused + "a network path, not an http or https address";
        return refused + "no scheme, only http and https addresses are accepted";
    }
    if (scheme.size() == 1) return refused + "a local path, not an http or https address";
    if (scheme != L"http" && scheme != L"https")
        return refused + "scheme \"" + Narrow(scheme) + "\", only http and https addresses are accepted";
    if (scheme == L"http" && !g_plainHttpAccepted) return refused + "plain http, only https addresses are accepted";
    const std::size_t afterScheme = scheme.size() + 1;
    if (!StartsWith(url, afterScheme, L"//") || HostPart(url, afterScheme + 2).empty())
        return refused + "no host";
    return std::string();
}

bool PlainHttpAccepted() { return g_plainHttpAccepted; }

bool SetPlainHttpAccepted(bool accepted) { return std::exchange(g_plainHttpAccepted, accepted); }

bool IsWebAddress(const std::wstring& url)
{
    const std::string refusal = WebAddressRefusal(url);
    if (refusal.empty()) return true;
    LogError(refusal);
    return false;
}

void RequireWebAddress(const std::wstring& url)
{
    const std::string refusal = WebAddressRefusal(url);
    if (!refusal.empty()) throw std::runtime_error(refusal);
}

}  // namespace osh
