#include "osh/Download.h"

#include "osh/DownloadFailure.h"
#include "osh/Log.h"
#include "osh/WebAddress.h"

#include <windows.h>
#include <urlmon.h>

namespace osh {

bool DownloadToFile(const std::wstring& localPath, const std::wstring& url)
{
    // The update document and the bootstrapper come through here; both only from a web server.
    if (!IsWebAddress(url)) return false;
    const HRESULT result = URLDownloadToFileW(nullptr, url.c_str(), localPath.c_str(), 0, nullptr);
    if (result == S_OK) return true;
    LogError(DownloadFailureLine(url, result));
    return false;
}

}  // namespace osh
