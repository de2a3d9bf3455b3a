#include "osh/Download.h"

#include "osh/WebAddress.h"

#include <windows.h>
#include <urlmon.h>

namespace osh {

bool DownloadToFile(const std::wstring& localPath, const std::wstring& url)
{
    // The update document and the bootstrapper come through here; both only from a web server.
    if (!IsWebAddress(url)) return false;
    return URLDownloadToFileW(nullptr, url.c_str(), localPath.c_str(), 0, nullptr) == S_OK;
}

}  // namespace osh
