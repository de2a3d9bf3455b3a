#pragma once
// Copying the entries of a directory that match a pattern, each with its whole subtree.
#include <string>

namespace ziz {

// Copies every entry of source matching pattern into target, directories recursively,
// files overwriting what is there (read-only and hidden cleared first, other attributes
// kept). The first failure throws (win::exception or std::runtime_error with the reason);
// what was copied before stays. No match at all throws "FindFirstFile(\"source\\pattern\")".
// Links are never followed: a junction or symbolic link among the source's entries is
// skipped with a warning naming it; a source or target path that passes through a link, or
// a target entry that is one, refuses the copy (std::runtime_error naming the link). Every
// read and write goes relative to the source's and the target's folders, each opened from
// the drive root without following a link, so a folder swapped for a junction during the
// copy cannot redirect it (a source entry that became a link since its listing is skipped
// with the same warning); a file is written new and renamed into place.
void TreeCopy(const std::wstring& target, const std::wstring& source, const std::wstring& pattern);

// Test seam: called with a source folder's path once its entries are listed, before any of
// them is read. Returns the previous one; null restores none.
using SourceListedHook = void (*)(const std::wstring& folder);
SourceListedHook SetSourceListedHook(SourceListedHook hook);

}  // namespace ziz
