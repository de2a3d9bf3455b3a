#include "osh/DiskSpace.h"

#include "osh/Exception.h"
#include "osh/Text.h"

#include <windows.h>

#include <vector>

namespace osh {

namespace {

bool IsMissing(DWORD error) { return error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND; }

// The folder above path ("C:\a\b" gives "C:\a"), or empty at a root.
std::wstring Parent(const std::wstring& path)
{
    std::wstring trimmed = path;
    while (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
    const size_t slash = trimmed.find_last_of(L'\\');
    if (slash == std::wstring::npos || slash == 0) return std::wstring();
    return trimmed.substr(0, slash + 1);
}

}  // namespace

std::uint64_t FreeBytesForCaller(const std::wstring& path)
{
    // A folder not made yet lies on the drive of its nearest existing parent.
    ULARGE_INTEGER available{};
    std::wstring probe = path;
    while (!GetDiskFreeSpaceExW(probe.c_str(), &available, nullptr, nullptr)) {
        const DWORD error = GetLastError();
        const std::wstring parent = Parent(probe);
        if (!IsMissing(error) || parent.empty() || parent == probe)
            throw win::exception(error, "GetDiskFreeSpaceEx(\"" + ToUtf8(path) + "\")");
        probe = parent;
    }
    return available.QuadPart;
}

std::wstring VolumeOf(const std::wstring& path)
{
    std::vector<wchar_t> volume(path.size() + MAX_PATH + 1);
    if (!GetVolumePathNameW(path.c_str(), volume.data(), static_cast<DWORD>(volume.size()))) return path;
    return volume.data();
}

}  // namespace osh
