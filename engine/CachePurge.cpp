#include "engine/CachePurge.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Folders.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <stdexcept>

namespace ziz {

namespace {

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool IsDecimalNumber(const std::wstring& text)
{
    if (text.empty()) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

void DeleteCopy(const std::wstring& path, DWORD attributes)
{
    try {
        if (osh::HasReparseAttribute(attributes)) {
            // Only the link goes; its attributes could reach what it points to.
            osh::RemoveLink(path);
            osh::LogInformation(L"Link \"" + path + L"\" removed without following it.");
            return;
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;  // a folder of that name is no copy
        if (attributes & FILE_ATTRIBUTE_READONLY) osh::SetReadOnly(path, false);
        if (!DeleteFileW(path.c_str())) throw win::exception(GetLastError(), "DeleteFile()");
        osh::LogInformation(L"File \"" + path + L"\" deleted.");
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
    }
}

bool PurgeDirectory(const std::wstring& directory, const std::wstring& base, const std::wstring& extension);

// Deletes the entry when it is a copy, or else descends into it when it is a plain folder
// (never a link); false when that descent failed.
bool PurgeEntry(const std::wstring& path, const WIN32_FIND_DATAW& entry, const std::wstring& base,
                const std::wstring& extension)
{
    if (IsCacheCopyName(entry.cFileName, base, extension)) {
        DeleteCopy(path, entry.dwFileAttributes);
        return true;
    }
    const bool plainFolder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                             !osh::HasReparseAttribute(entry.dwFileAttributes);
    return !plainFolder || PurgeDirectory(path, base, extension);
}

// Handles every entry of the folder (given with its trailing backslash) until a descent fails.
bool PurgeEntries(const std::wstring& directory, const std::wstring& base, const std::wstring& extension)
{
    WIN32_FIND_DATAW entry{};
    osh::ScopedFind find(FindFirstFileW((directory + L"*").c_str(), &entry));
    if (!find) throw win::exception(GetLastError(), "FindFirstFile");
    for (;;) {
        if (!IsDotEntry(entry.cFileName) && !PurgeEntry(directory + entry.cFileName, entry, base, extension))
            return false;
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_FILES) throw win::exception(error, "FindNextFile");
            return true;
        }
    }
}

bool PurgeDirectory(const std::wstring& directory, const std::wstring& base, const std::wstring& extension)
{
    try {
        const std::wstring full = osh::GetFullPath(directory);
        if (!osh::IsDirectory(full))
            throw std::runtime_error("PurgeCacheCopies: '" + osh::Narrow(full) + "' is not a directory");
        // Checked at every level: a folder listed as plain may have become a link since.
        if (osh::IsReparsePoint(full)) throw std::runtime_error("PurgeCacheCopies: '" + osh::Narrow(full) + "' is a link");
        return PurgeEntries(osh::AppendBackslash(full), base, extension);
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
        return false;
    }
}

// The cache folder, refused when it is reached through a link.
std::wstring InternetCacheFolder()
{
    std::wstring cache;
    osh::GetFolderPath(cache, osh::FolderInternetCache);
    std::wstring link;
    if (osh::PathCrossesReparsePoint(cache, &link))
        throw std::runtime_error("Internet cache \"" + osh::Narrow(cache) + "\" lies behind the link \"" +
                                 osh::Narrow(link) + "\"");
    return cache;
}

}  // namespace

bool IsCacheCopyName(const std::wstring& name, const std::wstring& base, const std::wstring& extension)
{
    if (osh::SamePath(name, base + extension)) return true;
    // base "[" digits "]" extension
    const std::size_t fixed = base.size() + extension.size() + 2;
    if (name.size() <= fixed) return false;
    const std::size_t close = name.size() - extension.size() - 1;
    return osh::SamePath(name.substr(0, base.size()), base) && name[base.size()] == L'[' && name[close] == L']' &&
           IsDecimalNumber(name.substr(base.size() + 1, close - base.size() - 1)) &&
           osh::SamePath(name.substr(close + 1), extension);
}

bool PurgeCacheCopies(const std::wstring& root, const std::wstring& base, const std::wstring& extension)
{
    return PurgeDirectory(root, base, extension);
}

void PurgeFromInternetCache(const std::wstring& fileName)
{
    const std::string name = osh::Narrow(fileName);
    try {
        std::wstring drive, directory, base, extension;
        osh::SplitPath(fileName, drive, directory, base, extension);
        const std::wstring cache = InternetCacheFolder();
        // A name without a base part is no component's; its "copies" could be anything.
        if (!base.empty() && PurgeCacheCopies(cache, base, extension))
            osh::LogInformation("Purged " + name + " from internet cache.");
        else
            osh::LogWarning("Could not purge " + name + " from internet cache.");
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
        osh::LogWarning("Did not purge " + name + " from internet cache.");
    }
}

}  // namespace ziz
