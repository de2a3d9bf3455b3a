#pragma once
// A plain download of a URL into a file, without progress reports.
#include <string>

namespace osh {

// True only when the system reports the transfer as complete (S_OK). The system does not
// look at the HTTP status: an error page may land in the file as a "success". Anything but
// an http or https address is refused with a logged line, without a transfer; a failed
// transfer logs the address and the reason (a refused server certificate among them).
bool DownloadToFile(const std::wstring& localPath, const std::wstring& url);

}  // namespace osh
