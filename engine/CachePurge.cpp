#include "engine/CachePurge.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Folders.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/PinnedFolder.h"
#include "osh/Text.h"

#include <windows.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace ziz {

namespace {

CacheFolderListedHook g_listedHook = nullptr;

bool IsDecimalNumber(const std::wstring& text)
{
    if (text.empty()) return false;
    for (wchar_t c : text)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// Removes the entry relative to its folder's handle: a file (read-only cleared first) or a
// link itself, never what a link points to.
void DeleteCopy(const osh::PinnedFolder& folder, const osh::FolderEntry& entry)
{
    const std::wstring path = folder.PathOf(entry.name);
    try {
        if (entry.kind == osh::EntryKind::Folder) return;  // a folder of that name is no copy
        folder.Remove(entry.name);
        if (entry.kind == osh::EntryKind::Link)
            osh::LogInformation(L"Link \"" + path + L"\" removed without following it.");
        else
            osh::LogInformation(L"File \"" + path + L"\" deleted.");
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
    }
}

bool PurgeFolder(const osh::PinnedFolder& folder, const std::wstring& base, const std::wstring& extension);

// Deletes the entry when it is a copy, or else descends into it when it is a plain folder
// (never a link); false when that descent failed.
bool PurgeEntry(const osh::PinnedFolder& folder, const osh::FolderEntry& entry, const std::wstring& base,
                const std::wstring& extension)
{
    if (IsCacheCopyName(entry.name, base, extension)) {
        DeleteCopy(folder, entry);
        return true;
    }
    if (entry.kind != osh::EntryKind::Folder) return true;
    try {
        // Opened relative to its parent as a plain folder only: one that became a link since
        // the listing is refused, never entered.
        return PurgeFolder(folder.Folder(entry.name), base, extension);
    } catch (const std::exception& e) {
        osh::LogWarning("PurgeCacheCopies: " + std::string(e.what()));
        return false;
    }
}

// Handles every entry of the folder until a descent fails.
bool PurgeFolder(const osh::PinnedFolder& folder, const std::wstring& base, const std::wstring& extension)
{
    const std::vector<osh::FolderEntry> entries = folder.List();
    if (g_listedHook) g_listedHook(folder.Path());
    for (const osh::FolderEntry& entry : entries) {
        if (!PurgeEntry(folder, entry, base, extension)) return false;
    }
    return true;
}

// The cache folder, opened one folder at a time from the drive root without following a
// link; every delete below is made relative to it.
osh::PinnedFolder OpenCacheFolder(const std::wstring& root)
{
    const std::wstring full = osh::GetFullPath(root);
    try {
        return osh::PinnedFolder::Open(full);
    } catch (const osh::RefusedEntry& refused) {
        if (refused.Kind() == osh::EntryKind::Link && osh::SamePath(refused.Path(), full))
            throw std::runtime_error("PurgeCacheCopies: '" + osh::Narrow(full) + "' is a link");
        if (refused.Kind() == osh::EntryKind::Link)
            throw std::runtime_error("'" + osh::Narrow(full) + "' lies behind the link '" + osh::Narrow(refused.Path()) + "'");
        throw std::runtime_error("PurgeCacheCopies: '" + osh::Narrow(full) + "' is not a directory");
    }
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
    try {
        return PurgeFolder(OpenCacheFolder(root), base, extension);
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
        return false;
    }
}

void PurgeFromInternetCache(const std::wstring& fileName)
{
    const std::string name = osh::Narrow(fileName);
    try {
        std::wstring drive, directory, base, extension;
        osh::SplitPath(fileName, drive, directory, base, extension);
        std::wstring cache;
        osh::GetFolderPath(cache, osh::FolderInternetCache);
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

CacheFolderListedHook SetCacheFolderListedHook(CacheFolderListedHook hook) { return std::exchange(g_listedHook, hook); }

}  // namespace ziz
