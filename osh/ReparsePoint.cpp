#include "osh/ReparsePoint.h"

#include "osh/FileSystem.h"

#include <windows.h>

namespace osh {

bool IsReparsePoint(const std::wstring& path)
{
    // GetFileAttributes reports the link's own attributes; it does not resolve it.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
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

}  // namespace osh
