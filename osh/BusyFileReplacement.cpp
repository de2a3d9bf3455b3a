#include "osh/BusyFileReplacement.h"

#include "osh/FileSystem.h"
#include "osh/Log.h"

#include <windows.h>

namespace osh {

namespace {

// The errors of a file that is open or mapped as a running image; a folder in the
// target's place refuses the copy too, but is nothing to move aside.
bool IsBusy(const std::wstring& target, DWORD error)
{
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE;
}

std::wstring AsideName(const std::wstring& target)
{
    return target + L"." + std::to_wstring(GetCurrentProcessId()) + L".old";
}

void RemoveAside(const std::wstring& aside)
{
    if (DeleteFileW(aside.c_str())) return;
    if (MoveFileExW(aside.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogInformation(aside + L" is still in use, removed at restart");
        return;
    }
    const DWORD error = GetLastError();
    LogWarning(L"Could not remove " + aside + L", error " + std::to_wstring(error));
}

}  // namespace

bool CopyOverBusyFile(const std::wstring& source, const std::wstring& target)
{
    const size_t slash = target.rfind(L'\\');
    if (slash != std::wstring::npos) CreatePath(target.substr(0, slash), false);
    if (CopyFileW(source.c_str(), target.c_str(), FALSE)) return true;
    const DWORD error = GetLastError();
    if (!IsBusy(target, error)) {
        SetLastError(error);
        return false;
    }
    const std::wstring aside = AsideName(target);
    if (!MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD moveError = GetLastError();
        LogWarning(L"Could not move busy " + target + L" aside, error " + std::to_wstring(moveError));
        SetLastError(moveError);
        return false;
    }
    LogInformation(L"Moved busy " + target + L" aside to " + aside);
    if (!CopyFileW(source.c_str(), target.c_str(), TRUE)) {
        const DWORD copyError = GetLastError();
        MoveFileExW(aside.c_str(), target.c_str(), 0);
        SetLastError(copyError);
        return false;
    }
    RemoveAside(aside);
    return true;
}

}  // namespace osh
