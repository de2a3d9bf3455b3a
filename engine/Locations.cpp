#include "engine/Locations.h"

#include "osh/FileSystem.h"
#include "osh/Folders.h"
#include "osh/SystemInfo.h"

namespace ziz {

namespace {

const unsigned int kProductNameString = 300;

std::wstring InDirectory(const std::wstring& dir, const std::wstring& name) { return osh::AppendBackslash(dir) + name; }

const wchar_t* const kRememberedNames[] = {L"DirLastLaunch", L"DirProgramData", L"DirInstall", L"DirInstall32",
                                           L"DirInstall64"};

}  // namespace

bool IsKnownPathKind(PathKind kind)
{
    const int index = static_cast<int>(kind);
    return index >= 0 && index < kPathKindCount;
}

const wchar_t* RememberedPathName(PathKind kind)
{
    const int index = static_cast<int>(kind);
    if (index < 0 || index >= static_cast<int>(sizeof(kRememberedNames) / sizeof(kRememberedNames[0])))
        return nullptr;
    return kRememberedNames[index];
}

std::wstring ProductName() { return osh::LoadStringResource(kProductNameString, nullptr, true); }

std::wstring ProductDirectory(int folderKind, const wchar_t* leaf)
{
    std::wstring folder;
    osh::GetFolderPath(folder, folderKind);
    std::wstring path = InDirectory(folder, ProductName());
    if (leaf != nullptr) path = InDirectory(path, leaf);
    return path;
}

}  // namespace ziz
