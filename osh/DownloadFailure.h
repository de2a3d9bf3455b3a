#pragma once
// Why a download gave up, in words a reader of the setup log understands.
// The system answers with a result code only; the refusal of a server's certificate in
// particular must be told apart from a server that is down.
#include <windows.h>

#include <string>

namespace osh {

// The reason for a result other than S_OK: "the server's certificate was refused (...)",
// "no connection to the server", ... or "the system reported an error" for a code the
// table does not know.
std::string DownloadFailureReason(HRESULT result);

// "Download of \"<url>\" failed: <reason> (0x<result>)".
std::string DownloadFailureLine(const std::wstring& url, HRESULT result);

// The reason for a WinINet error (ERROR_INTERNET_*, ERROR_HTTP_*) or a Win32 error met
// while writing the file, followed by " (error <code>)".
std::string InternetFailureReason(DWORD error);

// "Download of \"<url>\" failed: <reason>", the reason already in words ("HTTP 404", ...).
std::string TransferFailureLine(const std::wstring& url, const std::string& reason);

}  // namespace osh
