#include "osh/DownloadFailure.h"

#include "osh/Text.h"

#include <urlmon.h>

#include <cstdio>

namespace osh {

namespace {

struct KnownFailure {
    HRESULT result;
    const char* reason;
};

// The downloader's own result codes (urlmon's INET_E_*) and the few generic ones it passes on.
const KnownFailure kKnownFailures[] = {
    {INET_E_INVALID_CERTIFICATE,
     "the server's certificate was refused (expired or not yet valid, issued for another host name, or by an "
     "authority this computer does not trust)"},
    {INET_E_SECURITY_PROBLEM, "the secure connection was refused (a certificate or protocol problem)"},
    {INET_E_CANNOT_CONNECT, "no connection to the server"},
    {INET_E_RESOURCE_NOT_FOUND, "the server or the file was not found"},
    {INET_E_CONNECTION_TIMEOUT, "the connection timed out"},
    {INET_E_INVALID_URL, "the address is not valid"},
    {INET_E_NO_SESSION, "no Internet session could be opened"},
    {INET_E_DATA_NOT_AVAILABLE, "the server sent no data"},
    {INET_E_DOWNLOAD_FAILURE, "the transfer failed (no connection, or the server broke it off)"},
    {INET_E_REDIRECT_FAILED, "a redirection could not be followed"},
    {INET_E_UNKNOWN_PROTOCOL, "the address names a protocol the system does not know"},
    {E_ABORT, "the transfer was cancelled"},
    {E_OUTOFMEMORY, "not enough memory"},
};

}  // namespace

std::string DownloadFailureReason(HRESULT result)
{
    for (const KnownFailure& known : kKnownFailures) {
        if (known.result == result) return known.reason;
    }
    // Informational success codes mean the system stopped short of a complete transfer.
    if (SUCCEEDED(result)) return "the transfer did not complete";
    return "the system reported an error";
}

std::string DownloadFailureLine(const std::wstring& url, HRESULT result)
{
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(result));
    return "Download of \"" + Narrow(url) + "\" failed: " + DownloadFailureReason(result) + " (" + code + ")";
}

}  // namespace osh
