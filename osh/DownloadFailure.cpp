#include "osh/DownloadFailure.h"

#include "osh/Text.h"

#include <urlmon.h>
#include <wininet.h>

#include <cstdio>
#include <string>

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

const char* const kCertificateRefused =
    "the server's certificate was refused (expired or not yet valid, issued for another host name, or by an "
    "authority this computer does not trust)";

struct KnownInternetFailure {
    DWORD error;
    const char* reason;
};

// The transfer's own errors; certificate problems are never waved through, only named.
const KnownInternetFailure kKnownInternetFailures[] = {
    {ERROR_INTERNET_INVALID_CA, kCertificateRefused},
    {ERROR_INTERNET_SEC_CERT_CN_INVALID, kCertificateRefused},
    {ERROR_INTERNET_SEC_CERT_DATE_INVALID, kCertificateRefused},
    {ERROR_INTERNET_SEC_CERT_ERRORS, kCertificateRefused},
    {ERROR_INTERNET_SEC_INVALID_CERT, kCertificateRefused},
    {ERROR_INTERNET_SEC_CERT_REV_FAILED, "the server's certificate could not be checked for revocation"},
    {ERROR_INTERNET_SEC_CERT_NO_REV, "the server's certificate could not be checked for revocation"},
    {ERROR_INTERNET_SEC_CERT_REVOKED, "the server's certificate was revoked"},
    {ERROR_INTERNET_SECURITY_CHANNEL_ERROR, "the secure connection was refused (a certificate or protocol problem)"},
    {ERROR_INTERNET_CANNOT_CONNECT, "the connection was refused (no server answers at that address)"},
    {ERROR_INTERNET_NAME_NOT_RESOLVED, "the server name was not resolved"},
    {ERROR_INTERNET_TIMEOUT, "time-out (the server sent nothing in time)"},
    {ERROR_INTERNET_CONNECTION_RESET, "the connection was dropped"},
    {ERROR_INTERNET_CONNECTION_ABORTED, "the connection was dropped"},
    {ERROR_HTTP_INVALID_SERVER_RESPONSE, "the server's answer was not HTTP"},
    {ERROR_INTERNET_OPERATION_CANCELLED, "the transfer was cancelled"},
    {ERROR_INTERNET_INVALID_URL, "the address is not valid"},
    {ERROR_INTERNET_UNRECOGNIZED_SCHEME, "the address names a protocol the system does not know"},
    {ERROR_INTERNET_DISCONNECTED, "this computer is not connected to a network"},
    {ERROR_DISK_FULL, "the disk is full"},
    {ERROR_HANDLE_DISK_FULL, "the disk is full"},
    {ERROR_ACCESS_DENIED, "the file could not be written (access denied)"},
    // WinHTTP, which runs the administrator's proxy script, answers with the same numbers.
    {ERROR_INTERNET_UNABLE_TO_DOWNLOAD_SCRIPT, "the proxy script could not be fetched"},
    {ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT, "the proxy script failed"},
};

}  // namespace

std::string InternetFailureReason(DWORD error)
{
    const char* reason = "the system reported an error";
    for (const KnownInternetFailure& known : kKnownInternetFailures) {
        if (known.error == error) reason = known.reason;
    }
    return std::string(reason) + " (error " + std::to_string(error) + ")";
}

std::string TransferFailureLine(const std::wstring& url, const std::string& reason)
{
    return "Download of \"" + Narrow(url) + "\" failed: " + reason;
}

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
