#pragma once
// The process loads system DLLs from the system folder only: a DLL planted in the
// program's folder (a Downloads folder others can write to) or in the current directory
// must never run inside an elevated installer.
#include <windows.h>

#include <string>

namespace osh {

// Restricts the search of every later DLL load to the system folder and takes the current
// directory out of it. Called first thing in the process. Returns false where the system
// lacks SetDefaultDllDirectories (then only the current directory is dropped).
bool RestrictDllSearchToSystemFolder() noexcept;

// Loads the DLL `name` (a bare file name such as "VERSION.dll") from the system folder
// only, with its dependencies; nullptr on failure with GetLastError set. The module stays
// loaded for the life of the process.
HMODULE LoadSystemDll(const std::wstring& name) noexcept;

}  // namespace osh
