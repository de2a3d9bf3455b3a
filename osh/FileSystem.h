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

}  // namespace osh
