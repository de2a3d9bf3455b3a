#pragma once
// A plain download of a URL into a file, without progress reports.
#include <string>

namespace osh {

// True only when the whole body of a successful answer (200) arrived; it then lies under
// localPath, which is left alone otherwise. Error statuses, silent servers, cut bodies and
// refused redirections fail (passing faults after retries). Anything but an http or https
// address is refused with a logged line, without a transfer; a failed transfer logs the
// address and the reason (a refused server certificate, "HTTP 404", a time-out, ...).
bool DownloadToFile(const std::wstring& localPath, const std::wstring& url);
// The same; failure receives the logged line (the address and why) when it fails.
bool DownloadToFile(const std::wstring& localPath, const std::wstring& url, std::string& failure);

}  // namespace osh
