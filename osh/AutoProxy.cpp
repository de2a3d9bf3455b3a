#include "osh/AutoProxy.h"

#include "osh/Exception.h"
#include "osh/ScopedHandle.h"

#include <windows.h>
#include <winhttp.h>

namespace osh {

namespace {

struct WinHttpHandleTraits {
    using handle_type = HINTERNET;
    static HINTERNET Invalid() { return nullptr; }
    static bool IsValid(HINTERNET h) { return h != nullptr; }
    static bool Close(HINTERNET h) { return WinHttpCloseHandle(h) != FALSE; }
};
using ScopedWinHttp = Scoped<WinHttpHandleTraits>;

// A silent script server must not hold the run longer than a silent download server would.
constexpr int kScriptTimeoutMilliseconds = 60 * 1000;

}  // namespace

std::wstring FirstProxyOf(const std::wstring& list)
{
    const wchar_t* const separators = L"; \t";
    const size_t start = list.find_first_not_of(separators);
    if (start == std::wstring::npos) return std::wstring();
    const size_t end = list.find_first_of(separators, start);
    return list.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

ProxyChoice AskAutoConfigScript(const std::wstring& scriptUrl, const std::wstring& url)
{
    ScopedWinHttp session(WinHttpOpen(L"Setup", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) throw win::exception(GetLastError(), "WinHttpOpen");
    if (!WinHttpSetTimeouts(session.get(), kScriptTimeoutMilliseconds, kScriptTimeoutMilliseconds,
                            kScriptTimeoutMilliseconds, kScriptTimeoutMilliseconds))
        throw win::exception(GetLastError(), "WinHttpSetTimeouts");
    WINHTTP_AUTOPROXY_OPTIONS options = {};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
    options.fAutoLogonIfChallenged = FALSE;
    WINHTTP_PROXY_INFO answer = {};
    const BOOL asked = WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &answer);
    const DWORD error = GetLastError();
    const ScopedGlobalMemory proxies(answer.lpszProxy);  // WinHTTP hands both over to the caller
    const ScopedGlobalMemory bypass(answer.lpszProxyBypass);
    if (!asked) throw win::exception(error, "WinHttpGetProxyForUrl");
    ProxyChoice choice;
    if (answer.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && answer.lpszProxy != nullptr)
        choice.proxy = FirstProxyOf(answer.lpszProxy);
    choice.direct = choice.proxy.empty();
    return choice;
}

}  // namespace osh
