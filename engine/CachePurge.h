#pragma once
// Removing the Internet cache's copies of one component before it is fetched anew.
#include <string>

namespace ziz {

// True when name is the file's own name (base + extension) or the cache's numbered copy of
// it, base "[" digits "]" extension ("setup[1].msi" for "setup.msi"), letter case aside.
// Any other name, however alike, is not the file's.
bool IsCacheCopyName(const std::wstring& name, const std::wstring& base, const std::wstring& extension);

// Deletes, in root and every folder below it, each entry IsCacheCopyName accepts (read-only
// cleared first). A junction or symbolic link of such a name is removed itself; no link is
// ever entered or followed. Every folder is opened relative to the one above it, from the
// drive root, none of them a link, and every delete names one entry relative to its folder's
// handle: a folder swapped for a link meanwhile redirects nothing. Stops descending after the
// first subtree that fails. Never throws: failures are logged as warnings and give false.
bool PurgeCacheCopies(const std::wstring& root, const std::wstring& base, const std::wstring& extension);

// The clean option's purge of fileName's copies from the Internet cache, logged as
// "Purged <name> from internet cache." or, on any failure, with a warning; never throws.
// A cache folder reached through a link is not purged.
void PurgeFromInternetCache(const std::wstring& fileName);

// Test seam: called with a folder's path once its entries are listed, before any of them is
// deleted or entered. Returns the previous one; null restores none.
using CacheFolderListedHook = void (*)(const std::wstring& folder);
CacheFolderListedHook SetCacheFolderListedHook(CacheFolderListedHook hook);

}  // namespace ziz
