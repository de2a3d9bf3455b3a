#include "osh/FileSystem.h"

#include "osh/ErrnoException.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Registry.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <sddl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

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

namespace {

std::atomic<CreateDirectoryFunction> g_createDirectory{&CreateDirectoryW};

enum class ParentCreation { Allowed, Done };

bool CreatePathOnce(const std::wstring& path, bool failIfExists, ParentCreation parent)
{
    const size_t firstBackslash = path.find(L'\\');
    if (firstBackslash != std::wstring::npos && firstBackslash + 1 == path.size()) return !failIfExists;

    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kCreatedDirectorySddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()),
            nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    const bool created = g_createDirectory.load()(path.c_str(), &attributes) != FALSE;
    const DWORD error = GetLastError();
    descriptor.reset();

    if (created) return true;
    if (error != ERROR_PATH_NOT_FOUND) return error == ERROR_ALREADY_EXISTS && !failIfExists;
    // The parent was just made, yet the path is still unreachable (a drive that does not
    // exist): trying again would never end.
    if (parent == ParentCreation::Done) return false;

    // Split off the last component; a trailing backslash is dropped first, or the path
    // would split back into itself.
    std::wstring trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == L'\\') trimmed.pop_back();
    std::wstring parentPath, name;
    if (!SplitPath(trimmed, parentPath, name)) return false;
    if (parentPath.empty() || parentPath == path) return false;
    if (!CreatePathOnce(parentPath, false, ParentCreation::Allowed)) return false;
    return CreatePathOnce(path, failIfExists, ParentCreation::Done);
}

// Every failed attempt costs one GUID; a working temporary directory never needs more
// than one, so this only ends the attempts on a directory that refuses every creation.
constexpr int kTempDirectoryAttempts = 16;

void LogCopyFailure(const std::string& text) { LogError("osh::FileCopy: " + text); }

}  // namespace

CreateDirectoryFunction SetCreateDirectoryFunction(CreateDirectoryFunction function)
{
    return g_createDirectory.exchange(function != nullptr ? function : &CreateDirectoryW);
}

bool CreatePath(const std::wstring& path, bool failIfExists)
{
    return CreatePathOnce(path, failIfExists, ParentCreation::Allowed);
}

bool CreateNewTempDirectory(std::wstring& out)
{
    out.clear();
    wchar_t buffer[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) return false;
    const std::wstring tempPath = AppendBackslash(std::wstring(buffer, length));

    std::wstring guid;
    for (int attempt = 0; attempt < kTempDirectoryAttempts && CreateGuidString(guid); ++attempt) {
        const std::wstring candidate = tempPath + guid;
        if (CreatePath(candidate, true)) {
            out = candidate;
            break;
        }
    }
    return !out.empty();
}

bool FileCopy(const std::wstring& src, const std::wstring& dest, bool failIfExists)
{
    const DWORD attributes = GetFileAttributesW(src.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        LogCopyFailure("GetFileAttributes() returned INVALID_FILE_ATTRIBUTES, src: " + Narrow(src));
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        LogCopyFailure("Source path must be a file, not a directory");
        return false;
    }
    if (IsDirectory(dest)) {
        LogCopyFailure("Destination path must be a file, not a directory.");
        return false;
    }
    std::wstring destDir, destName;
    if (!SplitPath(dest, destDir, destName)) {
        LogCopyFailure("osh::SplitPath failed, dest: " + Narrow(dest));
        return false;
    }
    if (!CreatePath(destDir, false)) {
        LogCopyFailure("osh::CreatePath failed, destPath: " + Narrow(destDir));
        return false;
    }
    if (CopyFileW(src.c_str(), dest.c_str(), failIfExists ? TRUE : FALSE)) return true;
    const DWORD error = GetLastError();
    LogCopyFailure("CopyFile() failed, GetLastError(): " + std::to_string(error) + ", src: " + Narrow(src) +
                   ", dest: " + Narrow(dest) + ", failIfExists: " + (failIfExists ? "1" : "0"));
    return false;
}

std::wstring GetFullPath(const std::wstring& path)
{
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) throw win::exception(GetLastError(), "");
    std::vector<wchar_t> buffer(static_cast<size_t>(needed) + 1, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) throw win::exception(GetLastError(), "");
    if (length >= buffer.size()) throw win::exception(static_cast<HRESULT>(ERROR_INVALID_DATA), "");
    return std::wstring(buffer.data(), length);
}

void ListDirectory(const std::wstring& path, std::vector<std::wstring>& files, std::vector<std::wstring>& dirs)
{
    files.clear();
    dirs.clear();
    const std::wstring full = GetFullPath(path);
    if (!IsDirectory(full)) throw std::runtime_error("IsDirectory: '" + Narrow(path) + "' is not a directory");

    WIN32_FIND_DATAW entry{};
    ScopedFind find(FindFirstFileW((AppendBackslash(full) + L"*").c_str(), &entry));
    if (!find) throw win::exception(GetLastError(), "FindFirstFile");
    for (;;) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                dirs.push_back(name);
            else
                files.push_back(name);
        }
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_FILES) throw win::exception(error, "FindNextFile");
            return;
        }
    }
}

void SetReadOnly(const std::wstring& path, bool readOnly)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw win::exception(GetLastError(), "GetFileAttributes");
    if (readOnly)
        attributes |= FILE_ATTRIBUTE_READONLY;
    else
        attributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (!SetFileAttributesW(path.c_str(), attributes)) throw win::exception(GetLastError(), "SetFileAttributes");
}

void SetAttributes(const std::wstring& path, DWORD attributes)
{
    if (SetFileAttributesW(path.c_str(), attributes)) return;
    const DWORD error = GetLastError();
    char hex[16];
    std::snprintf(hex, sizeof(hex), "%lx", static_cast<unsigned long>(attributes));
    throw win::exception(error, "SetFileAttributes(\"" + Narrow(path) + "\", " + hex + ")");
}

void GetAttributesEx(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& out)
{
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &out))
        throw win::exception(GetLastError(), "GetFileAttributesEx(" + Narrow(path) + ")");
}

HANDLE OpenFile(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                DWORD disposition, DWORD flags, HANDLE templateFile)
{
    HANDLE file = CreateFileW(path.c_str(), access, share, security, disposition, flags, templateFile);
    if (file == INVALID_HANDLE_VALUE) throw win::exception(GetLastError(), "CreateFile(\"" + Narrow(path) + "\")");
    return file;
}

DWORD WriteFile(HANDLE file, const void* buffer, DWORD count, OVERLAPPED* overlapped)
{
    DWORD written = 0;
    if (!::WriteFile(file, buffer, count, &written, overlapped)) throw win::exception(GetLastError(), "WriteFile()");
    return written;
}

void GetLogicalDrives(std::vector<std::wstring>& drives)
{
    drives.clear();
    std::vector<wchar_t> buffer(10, L'\0');
    DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0) throw win::exception(GetLastError(), "GetLogicalDriveStrings");
    if (length > buffer.size()) {
        buffer.assign(static_cast<size_t>(length) + 1, L'\0');
        length = GetLogicalDriveStringsW(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) throw win::exception(GetLastError(), "GetLogicalDriveStrings");
    }
    for (const wchar_t* drive = buffer.data(); *drive != L'\0'; drive += wcslen(drive) + 1) drives.push_back(drive);
}

bool ConvertDevicePathToDOSPath(const std::wstring& drivePath, std::wstring& out)
{
    if (drivePath.size() < 2)
        throw std::runtime_error("ConvertDevicePathToDOSPath: argument '" + Narrow(drivePath) + "' too short.");
    const wchar_t letter = drivePath[0];
    const bool isLetter = (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
    if (drivePath[1] != L':' || !isLetter)
        throw std::runtime_error("ConvertDevicePathToDOSPath: argument '" + Narrow(drivePath) + "' not in format X:");

    const std::wstring drive = drivePath.substr(0, 2);
    std::vector<wchar_t> buffer(80, L'\0');
    for (;;) {
        if (QueryDosDeviceW(drive.c_str(), buffer.data(), static_cast<DWORD>(buffer.size())) != 0) break;
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER) {
            buffer.assign(buffer.size() * 2, L'\0');
            continue;
        }
        if (error == ERROR_FILE_NOT_FOUND) {
            out.clear();
            return false;
        }
        throw win::exception(error, "QueryDosDevice(\"" + Narrow(drive) + "\")");
    }
    out = std::wstring(buffer.data()) + drivePath.substr(2);
    return true;
}

bool DevicePathToDosPath(const std::wstring& devicePath, std::wstring& out)
{
    out.clear();
    std::vector<std::wstring> drives;
    GetLogicalDrives(drives);
    for (const std::wstring& drive : drives) {
        std::wstring device;
        // The drive root keeps its backslash, so the device of volume 1 never matches a path
        // on volume 10.
        if (!ConvertDevicePathToDOSPath(drive, device) || device.empty()) continue;
        if (!PathStartsWith(devicePath, device)) continue;
        out = drive + devicePath.substr(device.size());
    }
    return !out.empty();
}

}  // namespace osh
