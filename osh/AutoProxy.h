#pragma once
// The proxy an administrator's auto-config script chooses for one address. WinHTTP fetches
// and runs the script: WinINet keeps a script address given to one session only where its
// own settings allow, and is not meant for the system account a deployment tool runs under.
// Free of the Internet headers, which clash with each other.
#include <string>

namespace osh {

struct ProxyChoice {
    bool direct = true;
    std::wstring proxy;  // "host:port", the first the script names
};

// Asks the script at scriptUrl about url. Throws win::exception with WinHTTP's error when the
// script cannot be fetched or run: a transfer must not go around the administrator's proxy.
ProxyChoice AskAutoConfigScript(const std::wstring& scriptUrl, const std::wstring& url);

// Its first entry of a proxy list as WinHTTP writes it ("a:1; b:2", "a:1 b:2").
std::wstring FirstProxyOf(const std::wstring& list);

}  // namespace osh
