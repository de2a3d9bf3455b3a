#include "osh/Download.h"

#include <windows.h>
#include <urlmon.h>

namespace osh {

bool DownloadToFile(const std::wstring& localPath, const std::wstring& url)
{
    return URLDownloadToFileW(nullptr, url.c_str(), localPath.c_str(), 0, nullptr) == S_OK;
}

}  // namespace osh
