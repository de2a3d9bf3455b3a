#pragma once
// Where the product's well-known directories lie, and under which names the key store
// remembers them. Free of Windows headers.
#include "engine/PathKind.h"

#include <string>

namespace ziz {

// The number of kinds the engine resolves and caches (evInitial to evLog).
const int kPathKindCount = 7;

// True for the kinds evInitial to evLog.
bool IsKnownPathKind(PathKind kind);

// The value name in group "Setup" that remembers a kind ("DirProgramData"); null for the
// kinds that are not remembered.
const wchar_t* RememberedPathName(PathKind kind);

// The product name the directories are named after (string 300). Throws win::exception
// when the string table lacks it.
std::wstring ProductName();

// A well-known folder (osh::FolderKind), the product name and, when leaf is not null, the
// leaf: "C:\ProgramData\Norlo 5\SetupFiles". Throws what the folder and string look-ups throw.
std::wstring ProductDirectory(int folderKind, const wchar_t* leaf);

}  // namespace ziz
