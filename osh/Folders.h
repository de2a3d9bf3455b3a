#pragma once
// Well-known folders (program data, program files of each bitness, internet cache) on
// 32-bit and 64-bit Windows.
#include <windows.h>
#include <shlobj.h>

#include <string>

namespace osh {

// The kinds GetFolderPath understands.
enum FolderKind {
    FolderProgramData = 0,
    FolderProgramFiles = 1,
    FolderProgramFilesX86 = 2,
    FolderProgramFiles64 = 3,
    FolderInternetCache = 4,
};

// SHGetKnownFolderPath, looked up at run time; throws win::exception.
void GetKnownFolderPath(std::wstring& out, const GUID& folderId);

// SHGetFolderPathW; throws win::exception "SHGetFolderPath".
void GetFolderPathByCsidl(std::wstring& out, int csidl, HWND window, HANDLE token, DWORD flags);

// The folder of a FolderKind; std::runtime_error "Invalid parameter passed to
// GetFolderPath()" for a kind the system does not have.
void GetFolderPath(std::wstring& out, int kind);

}  // namespace osh
