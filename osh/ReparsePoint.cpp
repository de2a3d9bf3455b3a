#include "osh/ReparsePoint.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <stdexcept>

namespace osh {

bool HasReparseAttribute(unsigned long attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsReparsePoint(const std::wstring& path)
{
    // GetFileAttributes reports the link's own attributes; it does not resolve it.
    return HasReparseAttribute(GetFileAttributesW(path.c_str()));
}

bool PathCrossesReparsePoint(const std::wstring& path, std::wstring* crossing)
{
    const std::wstring full = GetFullPath(path);
    // Each prefix ending before a backslash, then the whole path; "C:" itself is skipped.
    for (std::size_t end = full.find(L'\\', 3);; end = full.find(L'\\', end + 1)) {
        const std::wstring prefix = full.substr(0, end);
        if (IsReparsePoint(prefix)) {
            if (crossing != nullptr) *crossing = prefix;
            return true;
        }
        if (end == std::wstring::npos) return false;
    }
}

void RemoveLink(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (!HasReparseAttribute(attributes))
        throw std::runtime_error("RemoveLink: '" + Narrow(path) + "' is not a link");
    const std::string quoted = "(\"" + Narrow(path) + "\")";
    // Opened as the link itself, and deleted through that handle only once the handle is
    // known to be the link: the entry cannot be swapped for its target in between.
    ScopedFile link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link) throw win::exception(GetLastError(), "CreateFile" + quoted);
    FILE_BASIC_INFO opened{};
    if (!GetFileInformationByHandleEx(link.get(), FileBasicInfo, &opened, sizeof(opened)))
        throw win::exception(GetLastError(), "GetFileInformationByHandleEx" + quoted);
    // A system that opens the target despite the flag (Wine does) gets nothing deleted.
    if (!HasReparseAttribute(opened.FileAttributes))
        throw std::runtime_error("RemoveLink: '" + Narrow(path) + "' could not be opened as a link; left in place");
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof(disposition)))
        throw win::exception(GetLastError(), "SetFileInformationByHandle" + quoted);
}

}  // namespace osh
