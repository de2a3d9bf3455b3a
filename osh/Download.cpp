#include "osh/Download.h"

#include "osh/DownloadFailure.h"
#include "osh/HttpTransfer.h"
#include "osh/Log.h"
#include "osh/WebAddress.h"

#include <windows.h>

namespace osh {

bool DownloadToFile(const std::wstring& localPath, const std::wstring& url)
{
    std::string failure;
    return DownloadToFile(localPath, url, failure);
}

bool DownloadToFile(const std::wstring& localPath, const std::wstring& url, std::string& failure)
{
    failure.clear();
    // The update document and the bootstrapper come through here; both only from a web server.
    failure = WebAddressRefusal(url);
    if (!failure.empty()) {
        LogError(failure);
        return false;
    }
    // The final name only ever holds a complete answer.
    const std::wstring partial = localPath + L".partial";
    const TransferResult result = TransferToFile(url, partial, TransferOptions());
    if (!result.complete) {
        DeleteFileW(partial.c_str());
        failure = TransferFailureLine(url, result.failure);
        LogError(failure);
        return false;
    }
    if (!MoveFileExW(partial.c_str(), localPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        failure = TransferFailureLine(url, InternetFailureReason(GetLastError()));
        LogError(failure);
        DeleteFileW(partial.c_str());
        return false;
    }
    return true;
}

}  // namespace osh
