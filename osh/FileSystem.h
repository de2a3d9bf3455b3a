#pragma once
// File-system helpers over wide paths. Operations that answer a question return bool
// (and log where noted); operations that produce a value throw win::exception,
// errnoEx::exception or a standard exception.
#include <windows.h>

#include <string>
#include <vector>

namespace osh {

// The restrictive descriptor of every directory CreatePath makes: no access for guests
// and anonymous logons, full access for authenticated users and administrators.
extern const wchar_t* const kCreatedDirectorySddl;

// path + "\" unless path is empty or already ends in a backslash.
std::wstring AppendBackslash(const std::wstring& path);

bool IsDirectory(const std::wstring& path);
bool IsFile(const std::wstring& path);
bool RemoveFile(const std::wstring& path);

// dir keeps its trailing backslash ("C:\a\"), name is file name + extension.
// False (outputs untouched) when the path cannot be split.
bool SplitPath(const std::wstring& path, std::wstring& dir, std::wstring& name);

// The four parts of a path; throws errnoEx::exception "_tsplitpath_s".
void SplitPath(const std::wstring& path, std::wstring& drive, std::wstring& dir, std::wstring& name,
               std::wstring& ext);

// Creates a directory and its missing parents, each with the restrictive descriptor.
// An existing directory (or a drive root) counts as success unless failIfExists.
bool CreatePath(const std::wstring& path, bool failIfExists);

// Test seam: the directory-creating call of CreatePath. Wine drops the descriptor it is
// handed, so tests check what CreatePath passes. Returns the previous function; null
// puts CreateDirectoryW back.
using CreateDirectoryFunction = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
CreateDirectoryFunction SetCreateDirectoryFunction(CreateDirectoryFunction function);

// A fresh directory named by a new GUID in the temporary directory. Gives up after a
// bounded number of failed creations (an unwritable or unusable temporary directory).
bool CreateNewTempDirectory(std::wstring& out);

// Copies a file, creating the destination's directory; every refusal is logged at error.
bool FileCopy(const std::wstring& src, const std::wstring& dest, bool failIfExists);

// GetFullPathNameW; throws win::exception.
std::wstring GetFullPath(const std::wstring& path);

// Bare names of the entries of a directory, in enumeration order, without "." and "..".
// Throws std::runtime_error "IsDirectory: '<path>' is not a directory" or win::exception.
void ListDirectory(const std::wstring& path, std::vector<std::wstring>& files, std::vector<std::wstring>& dirs);

// Attribute changes and queries; all throw win::exception.
void SetReadOnly(const std::wstring& path, bool readOnly);
void SetAttributes(const std::wstring& path, DWORD attributes);
void GetAttributesEx(const std::wstring& path, WIN32_FILE_ATTRIBUTE_DATA& out);

// CreateFileW with the caller's arguments; throws win::exception "CreateFile("<path>")".
HANDLE OpenFile(const std::wstring& path, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                DWORD disposition, DWORD flags, HANDLE templateFile);

// WriteFile; returns the bytes written, throws win::exception "WriteFile()".
DWORD WriteFile(HANDLE file, const void* buffer, DWORD count, OVERLAPPED* overlapped);

// The root of every logical drive ("C:\"), in order; throws win::exception.
void GetLogicalDrives(std::vector<std::wstring>& drives);

// "C:\dir" -> "\Device\HarddiskVolume1\dir". False (out cleared) for a drive letter
// without a device; throws for a malformed argument or another system failure.
bool ConvertDevicePathToDOSPath(const std::wstring& drivePath, std::wstring& out);

// "\Device\HarddiskVolume1\dir" -> "C:\dir"; false when no drive matches.
bool DevicePathToDosPath(const std::wstring& devicePath, std::wstring& out);

}  // namespace osh
