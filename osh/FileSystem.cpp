#include "osh/FileSystem.h"

#include "osh/ErrnoException.h"
#include "osh/ScopedHandle.h"

#include <sddl.h>

#include <cstdlib>

namespace osh {

const wchar_t* const kCreatedDirectorySddl = L"D:(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GA;;;AU)(A;OICI;GA;;;BA)";

std::wstring AppendBackslash(const std::wstring& path)
{
    if (path.empty() || path.back() == L'\\') return path;
    return path + L"\\";
}

bool IsDirectory(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool RemoveFile(const std::wstring& path) { return DeleteFileW(path.c_str()) != FALSE; }

namespace {

// Buffer sizes of the split: the name parts get 257 characters, one more than MAX_PATH - 3.
constexpr size_t kDriveChars = 4;
constexpr size_t kPartChars = 257;

struct PathParts {
    wchar_t drive[kDriveChars] = {};
    wchar_t dir[kPartChars] = {};
    wchar_t name[kPartChars] = {};
    wchar_t ext[kPartChars] = {};
};

errno_t Split(const std::wstring& path, PathParts& parts)
{
    return _wsplitpath_s(path.c_str(), parts.drive, kDriveChars, parts.dir, kPartChars, parts.name, kPartChars,
                         parts.ext, kPartChars);
}

}  // namespace

bool SplitPath(const std::wstring& path, std::wstring& dir, std::wstring& name)
{
    PathParts parts;
    if (Split(path, parts) != 0) return false;
    dir = std::wstring(parts.drive) + parts.dir;
    name = std::wstring(parts.name) + parts.ext;
    return true;
}

void SplitPath(const std::wstring& path, std::wstring& drive, std::wstring& dir, std::wstring& name,
               std::wstring& ext)
{
    PathParts parts;
    errno_t result = Split(path, parts);
    if (result != 0) throw errnoEx::exception(result, "_tsplitpath_s");
    drive = parts.drive;
    dir = parts.dir;
    name = parts.name;
    ext = parts.ext;
}

bool CreatePath(const std::wstring& path, bool failIfExists)
{
    const size_t firstBackslash = path.find(L'\\');
    if (firstBackslash != std::wstring::npos && firstBackslash + 1 == path.size()) return !failIfExists;

    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kCreatedDirectorySddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()),
            nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    const bool created = CreateDirectoryW(path.c_str(), &attributes) != FALSE;
    const DWORD error = GetLastError();
    descriptor.reset();

    if (created) return true;
    if (error != ERROR_PATH_NOT_FOUND) return error == ERROR_ALREADY_EXISTS && !failIfExists;

    // Split off the last component; a trailing backslash is dropped first, or the path
    // would split back into itself and the recursion would never end.
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == L'\\') trimmed.pop_back();
    std::wstring parent, name;
    if (!SplitPath(trimmed, parent, name)) return false;
    if (parent.empty() || parent == path) return false;
    if (!CreatePath(parent, false)) return false;
    return CreatePath(path, failIfExists);
}

}  // namespace osh
