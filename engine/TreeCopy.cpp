#include "engine/TreeCopy.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PinnedFolder.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <optional>
#include <stdexcept>
#include <vector>

namespace ziz {

namespace {

constexpr DWORD kBlockingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;
// What a copy takes over from its source, as CopyFile does.
constexpr DWORD kCopiedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

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

using SourceEntries = std::vector<WIN32_FIND_DATAW>;

SourceEntries ListSource(const std::wstring& source, const std::wstring& pattern);
void CopyEntries(const osh::PinnedFolder& target, const std::wstring& source, const SourceEntries& entries);

void CopyDirectoryEntry(const osh::PinnedFolder& target, const std::wstring& name, const std::wstring& src,
                        const osh::FolderEntry& existing)
{
    const std::wstring dst = target.PathOf(name);
    if (existing.kind == osh::EntryKind::File)
        throw std::runtime_error("Could not copy DIR " + osh::Narrow(name) + " over FILE " + osh::Narrow(dst));
    std::optional<osh::PinnedFolder> child;
    try {
        child.emplace(target.Folder(name, true, osh::kCreatedDirectorySddl));
    } catch (const win::exception&) {
        throw std::runtime_error("Could not create DIR " + osh::Narrow(dst));
    }
    CopyEntries(*child, src, ListSource(src, L"*"));
}

// The copy is a new file renamed into place relative to the target's handle: what stood
// there (a hard link to another file, say) is replaced, never written through.
void CopyFileEntry(const osh::PinnedFolder& target, const std::wstring& name, const std::wstring& src,
                   DWORD srcAttributes, const osh::FolderEntry& existing)
{
    const std::wstring dst = target.PathOf(name);
    if (existing.kind == osh::EntryKind::Folder)
        throw std::runtime_error("Could not copy FILE " + osh::Narrow(name) + " over DIR " + osh::Narrow(dst));
    const std::string context = "CopyFile(" + Quoted(src) + "," + Quoted(dst) + ",FALSE)";
    try {
        const osh::ScopedFile from(CreateFileW(src.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!from) throw win::exception(GetLastError(), context);
        target.WriteCopy(from.get(), name);
        // A file overwritten keeps its other attributes; a new one takes its source's.
        const DWORD wanted = existing.kind == osh::EntryKind::File ? existing.attributes & ~kBlockingAttributes
                                                                   : srcAttributes;
        target.ChangeAttributes(name, wanted & kCopiedAttributes, kCopiedAttributes & ~wanted);
    } catch (const win::exception& error) {
        throw win::exception(error.code(), context);
    }
}

void CopyEntry(const WIN32_FIND_DATAW& entry, const osh::PinnedFolder& target, const std::wstring& source)
{
    const std::wstring name = entry.cFileName;
    const std::wstring src = osh::AppendBackslash(source) + name;
    if (osh::HasReparseAttribute(entry.dwFileAttributes)) {
        osh::LogWarning("Link " + Quoted(src) + " not copied: links are not followed");
        return;
    }
    const osh::FolderEntry existing = TargetEntry(target, name);
    if (existing.kind == osh::EntryKind::Link)
        throw std::runtime_error("Copy to " + Quoted(target.PathOf(name)) + " refused: it is a link");
    ClearBlockingAttributes(target, existing);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        CopyDirectoryEntry(target, name, src, existing);
    else
        CopyFileEntry(target, name, src, entry.dwFileAttributes, existing);
}

// Reading from a path through a link would reach wherever it points.
void RefuseLinkedSource(const std::wstring& path)
{
    std::wstring link;
    if (osh::PathCrossesReparsePoint(path, &link))
        throw std::runtime_error("Copy from " + Quoted(path) + " refused: " + Quoted(link) + " is a link");
}

// The source's matching entries, "." and ".." left out; the source is checked for links first
// (at every level: a folder made plain may have become a link since).
SourceEntries ListSource(const std::wstring& source, const std::wstring& pattern)
{
    RefuseLinkedSource(source);
    const std::wstring search = osh::AppendBackslash(source) + pattern;
    WIN32_FIND_DATAW entry{};
    osh::ScopedFind find(FindFirstFileW(search.c_str(), &entry));
    if (!find) throw win::exception(GetLastError(), "FindFirstFile(" + Quoted(search) + ")");
    SourceEntries entries;
    for (;;) {
        if (!IsDotEntry(entry.cFileName)) entries.push_back(entry);
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_FILES) throw win::exception(error, "FindNextFile(" + Quoted(search) + ")");
            return entries;
        }
    }
}

void CopyEntries(const osh::PinnedFolder& target, const std::wstring& source, const SourceEntries& entries)
{
    for (const WIN32_FIND_DATAW& entry : entries) CopyEntry(entry, target, source);
}

}  // namespace

void TreeCopy(const std::wstring& target, const std::wstring& source, const std::wstring& pattern)
{
    // Every write goes relative to the target's folders, each opened without following a
    // link: a folder swapped for a junction during the copy cannot redirect it.
    const SourceEntries entries = ListSource(source, pattern);
    std::optional<osh::PinnedFolder> folder;
    try {
        folder.emplace(osh::PinnedFolder::Open(target));
    } catch (const osh::RefusedEntry& refused) {
        throw std::runtime_error("Copy to " + Quoted(target) + " refused: " + Quoted(refused.Path()) + " is " +
                                 (refused.Kind() == osh::EntryKind::Link ? "a link" : "not a folder"));
    }
    CopyEntries(*folder, source, entries);
}

}  // namespace ziz
