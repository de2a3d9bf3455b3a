#pragma once
// File work inside a folder that a standard user may be able to change, done by an elevated
// run. A path is a question asked again at every use: between a check and the act, a folder
// on it can be swapped for a junction that leads anywhere. A pinned folder is opened once,
// one folder at a time from the drive root, each relative to the handle of the one before
// and none of them a link; every later change (create, write, rename, delete) names one plain
// entry relative to that handle, so no link planted later can redirect it.
#include "osh/ScopedHandle.h"

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace osh {

// ---- rules -----------------------------------------------------------------------------

// One entry name inside a folder: not empty, not "." or "..", no separator, drive or stream
// colon, wildcard, quote, control character or trailing dot or blank.
bool IsPlainEntryName(const std::wstring& name);

// The drive root ("C:\") and the folder names that follow it in a full drive path. False
// for anything else (relative paths, UNC and device paths, names that are not plain).
bool SplitDrivePath(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names);

enum class EntryKind { Missing, File, Folder, Link };

// What a listing's attributes say stands at a name. A reparse point is a link whatever else
// it claims to be.
EntryKind EntryKindOf(unsigned long attributes);

// ---- effects ---------------------------------------------------------------------------

// An entry that stands where a plain one was needed: a link, or a file where a folder was
// needed and the reverse. what() is "<path> is a link" (or "is a file", "is a folder").
class RefusedEntry : public std::runtime_error {
public:
    RefusedEntry(const std::wstring& path, EntryKind kind);
    const std::wstring& Path() const { return path_; }
    EntryKind Kind() const { return kind_; }

private:
    std::wstring path_;
    EntryKind kind_;
};

struct FolderEntry {
    std::wstring name;
    EntryKind kind = EntryKind::Missing;
    unsigned long attributes = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // FILETIME units: the larger, the newer
};

class PinnedFolder {
public:
    // Opens the folder at a full drive path. Throws RefusedEntry when a folder on the way is
    // a link or a file, win::exception ERROR_PATH_NOT_FOUND when one is missing, and
    // win::exception for whatever else the system refuses.
    static PinnedFolder Open(const std::wstring& path);

    // The same, creating the missing folders on the way, each with the descriptor of
    // `sddl` (null: the inherited one). A folder someone else makes meanwhile is opened as
    // it is found, when it is a plain folder.
    static PinnedFolder OpenCreating(const std::wstring& path, const wchar_t* sddl);

    PinnedFolder(PinnedFolder&&) noexcept = default;
    PinnedFolder& operator=(PinnedFolder&&) noexcept = default;

    const std::wstring& Path() const { return path_; }
    HANDLE Handle() const { return handle_.get(); }
    std::wstring PathOf(const std::wstring& name) const;

    // The entries of the folder whose names match mask (the system's wildcards, as a folder
    // search takes them; "*" all), "." and ".." left out; none when nothing matches. Throws
    // win::exception.
    std::vector<FolderEntry> List(const std::wstring& mask = L"*") const;
    EntryKind KindOf(const std::wstring& name) const;

    // A plain subfolder, optionally made when missing (with `sddl`, null: inherited).
    PinnedFolder Folder(const std::wstring& name, bool create = false, const wchar_t* sddl = nullptr) const;

    // The plain subfolder, opened without sharing delete: while the answer lives nobody can
    // rename, move or remove that folder (the system refuses it), so its name here keeps
    // naming it. Throws as Folder does.
    PinnedFolder HoldFolder(const std::wstring& name) const;

    // True when both are handles of one folder (the same volume and file id). Throws
    // win::exception.
    bool IsSameFolderAs(const PinnedFolder& other) const;

    // Opens a plain file (never through a link). disposition is FILE_OPEN, FILE_CREATE or
    // FILE_OVERWRITE_IF (the NtCreateFile values); share is FILE_SHARE_*; options are added
    // to the NtCreateFile options (FILE_NO_INTERMEDIATE_BUFFERING). Throws.
    ScopedFile OpenFile(const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                        ULONG options = 0) const;

    // Adds and removes attributes of a plain file or folder (never a link's target). Throws.
    void ChangeAttributes(const std::wstring& name, unsigned long add, unsigned long remove) const;

    // Deletes the entry: a file (read-only cleared first, unless clearReadOnly is false: the
    // system then refuses it), an empty folder, or a link itself, never what it points to.
    // True when it is gone (or was never there). Throws std::runtime_error for a link the
    // system will only open as its target (Wine does), which is then left in place, and
    // win::exception for what the system refuses.
    bool Remove(const std::wstring& name, bool clearReadOnly = true) const;

    // Deletes a subfolder and everything below it; links inside are removed, never entered.
    // False when something stayed (each failure logged as a warning).
    bool RemoveTree(const std::wstring& name) const;

    // Gives the plain file `from` the name `to`, replacing what is there (the entry is
    // replaced, a hard link's other names are not written through). Throws win::exception.
    void Rename(const std::wstring& from, const std::wstring& to) const;

    // Copies the bytes of an open file into `name`: written to "<name>.new" (anything of that
    // name removed first, then created new), flushed, and renamed into place. Throws.
    void WriteCopy(HANDLE source, const std::wstring& name) const;

private:
    PinnedFolder(std::wstring path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
    static PinnedFolder OpenFrom(const std::wstring& path, bool create, const wchar_t* sddl);
    PinnedFolder OpenFolder(const std::wstring& name, bool create, const wchar_t* sddl, ULONG share) const;

    std::wstring path_;
    ScopedFile handle_;
};

}  // namespace osh
