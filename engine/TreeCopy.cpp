#include "engine/TreeCopy.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PinnedFolder.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ziz {

namespace {

constexpr DWORD kBlockingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
// What a copy takes over from its source, as CopyFile does.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// The NtCreateFile disposition that opens only what exists.
constexpr ULONG kFileOpen = 1;

SourceListedHook g_listedHook = nullptr;

std::string Quoted(const std::wstring& text) { return "\"" + osh::Narrow(text) + "\""; }

// The target's entry of that name, as its folder lists it (kind Missing when there is none).
osh::FolderEntry TargetEntry(const osh::PinnedFolder& target, const std::wstring& name)
{
    for (const osh::FolderEntry& entry : target.List()) {
        if (osh::EqualsIgnoreAsciiCase(entry.name, name)) return entry;
    }
    return osh::FolderEntry{name, osh::EntryKind::Missing, INVALID_FILE_ATTRIBUTES, 0};
}

void ClearBlockingAttributes(const osh::PinnedFolder& target, const osh::FolderEntry& entry)
{
    if (entry.kind == osh::EntryKind::Missing || (entry.attributes & kBlockingAttributes) == 0) return;
    try {
        target.ChangeAttributes(entry.name, 0, kBlockingAttributes);
    } catch (const win::exception& error) {
        throw win::exception(error.code(),
                             "Could not set file attributes for " + Quoted(target.PathOf(entry.name)) + ".");
    }
}

using SourceEntries = std::vector<osh::FolderEntry>;

void CopyEntries(const osh::PinnedFolder& target, const osh::PinnedFolder& source, const SourceEntries& entries);

// Reported like a link found in the listing: one put in place of the entry since then.
bool SkippedAsLink(const osh::RefusedEntry& refused)
{
    if (refused.Kind() != osh::EntryKind::Link) return false;
    osh::LogWarning("Link " + Quoted(refused.Path()) + " not copied: links are not followed");
    return true;
}

SourceEntries Listed(const osh::PinnedFolder& folder, SourceEntries entries)
{
    if (g_listedHook) g_listedHook(folder.Path());
    return entries;
}

void CopyDirectoryEntry(const osh::PinnedFolder& target, const osh::PinnedFolder& source, const std::wstring& name,
                        const osh::FolderEntry& existing)
{
    const std::wstring dst = target.PathOf(name);
    if (existing.kind == osh::EntryKind::File)
        throw std::runtime_error("Could not copy DIR " + osh::Narrow(name) + " over FILE " + osh::Narrow(dst));
    // Opened relative to its parent's handle, as a plain folder only: a link put in its
    // place since the listing is never entered.
    std::optional<osh::PinnedFolder> from;
    try {
        from.emplace(source.Folder(name));
    } catch (const osh::RefusedEntry& refused) {
        if (SkippedAsLink(refused)) return;
        throw;
    }
    std::optional<osh::PinnedFolder> child;
    try {
        child.emplace(target.Folder(name, true, osh::kCreatedDirectorySddl));
    } catch (const win::exception&) {
        throw std::runtime_error("Could not create DIR " + osh::Narrow(dst));
    }
    CopyEntries(*child, *from, Listed(*from, from->List()));
}

// The copy is a new file renamed into place relative to the target's handle: what stood
// there (a hard link to another file, say) is replaced, never written through. Its bytes
// are read relative to the source's handle, from the plain file of that name only.
void CopyFileEntry(const osh::PinnedFolder& target, const osh::PinnedFolder& source, const std::wstring& name,
                   DWORD srcAttributes, const osh::FolderEntry& existing)
{
    const std::wstring dst = target.PathOf(name);
    if (existing.kind == osh::EntryKind::Folder)
        throw std::runtime_error("Could not copy FILE " + osh::Narrow(name) + " over DIR " + osh::Narrow(dst));
    const std::string context = "CopyFile(" + Quoted(source.PathOf(name)) + "," + Quoted(dst) + ",FALSE)";
    std::optional<osh::ScopedFile> opened;
    try {
        opened.emplace(source.OpenFile(name, GENERIC_READ, FILE_SHARE_READ, kFileOpen));
    } catch (const osh::RefusedEntry& refused) {
        if (SkippedAsLink(refused)) return;
        throw;
    } catch (const win::exception& error) {
        throw win::exception(error.code(), context);
    }
    const osh::ScopedFile& from = *opened;
    try {
        target.WriteCopy(from.get(), name);
        // A file overwritten keeps its other attributes; a new one takes its source's.
        const DWORD wanted = existing.kind == osh::EntryKind::File ? existing.attributes & ~kBlockingAttributes
                                                                   : srcAttributes;
        target.ChangeAttributes(name, wanted & kCopiedAttributes, kCopiedAttributes & ~wanted);
    } catch (const win::exception& error) {
        throw win::exception(error.code(), context);
    }
}

void CopyEntry(const osh::FolderEntry& entry, const osh::PinnedFolder& target, const osh::PinnedFolder& source)
{
    if (entry.kind == osh::EntryKind::Link) {
        osh::LogWarning("Link " + Quoted(source.PathOf(entry.name)) + " not copied: links are not followed");
        return;
    }
    const osh::FolderEntry existing = TargetEntry(target, entry.name);
    if (existing.kind == osh::EntryKind::Link)
        throw std::runtime_error("Copy to " + Quoted(target.PathOf(entry.name)) + " refused: it is a link");
    ClearBlockingAttributes(target, existing);
    if (entry.kind == osh::EntryKind::Folder)
        CopyDirectoryEntry(target, source, entry.name, existing);
    else
        CopyFileEntry(target, source, entry.name, entry.attributes, existing);
}

// The source folder, opened one folder at a time from the drive root without following a
// link: reading from a path through a link would reach wherever it points.
osh::PinnedFolder OpenSource(const std::wstring& source)
{
    try {
        return osh::PinnedFolder::Open(source);
    } catch (const osh::RefusedEntry& refused) {
        throw std::runtime_error("Copy from " + Quoted(source) + " refused: " + Quoted(refused.Path()) + " is " +
                                 (refused.Kind() == osh::EntryKind::Link ? "a link" : "not a folder"));
    }
}

// The source's entries matching pattern; none at all is a failure of the search.
SourceEntries ListSource(const osh::PinnedFolder& source, const std::wstring& pattern)
{
    const std::wstring search = osh::AppendBackslash(source.Path()) + pattern;
    SourceEntries entries;
    try {
        entries = source.List(pattern);
    } catch (const win::exception& error) {
        throw win::exception(error.code(), "FindFirstFile(" + Quoted(search) + ")");
    }
    if (entries.empty()) throw win::exception(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), "FindFirstFile(" + Quoted(search) + ")");
    return entries;
}

void CopyEntries(const osh::PinnedFolder& target, const osh::PinnedFolder& source, const SourceEntries& entries)
{
    for (const osh::FolderEntry& entry : entries) CopyEntry(entry, target, source);
}

}  // namespace

void TreeCopy(const std::wstring& target, const std::wstring& source, const std::wstring& pattern)
{
    // Every write goes relative to the target's folders, each opened without following a
    // link: a folder swapped for a junction during the copy cannot redirect it.
    const osh::PinnedFolder from = OpenSource(source);
    const SourceEntries entries = Listed(from, ListSource(from, pattern));
    std::optional<osh::PinnedFolder> folder;
    try {
        folder.emplace(osh::PinnedFolder::Open(target));
    } catch (const osh::RefusedEntry& refused) {
        throw std::runtime_error("Copy to " + Quoted(target) + " refused: " + Quoted(refused.Path()) + " is " +
                                 (refused.Kind() == osh::EntryKind::Link ? "a link" : "not a folder"));
    }
    CopyEntries(*folder, from, entries);
}

SourceListedHook SetSourceListedHook(SourceListedHook hook) { return std::exchange(g_listedHook, hook); }

}  // namespace ziz
