#include "engine/DeleteDirectory.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PinnedFolder.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

const wchar_t kKeepMarker[] = L".nodelete";

// Every removal is made relative to the handle of the folder that holds the entry, which was
// opened one folder at a time without following a link: a folder swapped for a junction after
// it was listed cannot lead the delete anywhere else.
bool DeleteTree(const osh::PinnedFolder& parent, const std::wstring& name, bool rethrow);

// A junction or symbolic link goes itself; what it points to may lie anywhere.
void DeleteLink(const osh::PinnedFolder& parent, const std::wstring& name)
{
    parent.Remove(name);
    osh::LogInformation(L"Link \"" + parent.PathOf(name) + L"\" removed without following it.");
}

void DeleteFileEntry(const osh::PinnedFolder& parent, const std::wstring& name)
{
    try {
        parent.Remove(name);
    } catch (const win::exception& error) {
        osh::LogWarning(L"File \"" + parent.PathOf(name) + L"\" could not be deleted.");
        throw win::exception(error.code(), "DeleteFile");
    }
}

// Deletes one entry of a listing; false when a subdirectory stayed (already logged).
bool DeleteEntry(const osh::PinnedFolder& parent, const osh::FolderEntry& entry, bool rethrow)
{
    switch (entry.kind) {
    case osh::EntryKind::Link: DeleteLink(parent, entry.name); return true;
    case osh::EntryKind::Folder:
        if (DeleteTree(parent, entry.name, rethrow)) return true;
        osh::LogWarning(L"Directory \"" + parent.PathOf(entry.name) + L"\" could not be deleted.");
        return false;
    default: DeleteFileEntry(parent, entry.name); return true;
    }
}

// Deletes every entry of the folder; false when something stayed.
bool DeleteContents(const osh::PinnedFolder& folder, bool rethrow)
{
    bool result = true;
    for (const osh::FolderEntry& entry : folder.List()) {
        try {
            if (!DeleteEntry(folder, entry, rethrow)) result = false;
        } catch (const std::exception& error) {
            osh::LogError(error.what());
            result = false;
            if (rethrow) throw;
        }
    }
    return result;
}

bool DeleteTree(const osh::PinnedFolder& parent, const std::wstring& name, bool rethrow)
{
    {
        const osh::PinnedFolder folder = parent.Folder(name);
        if (folder.KindOf(kKeepMarker) != osh::EntryKind::Missing) return false;
        if (!DeleteContents(folder, rethrow)) return false;
    }
    try {
        parent.Remove(name);
    } catch (const win::exception& error) {
        osh::LogWarning(L"Directory \"" + parent.PathOf(name) + L"\" could not be removed.");
        throw win::exception(error.code(), "RemoveDirectory");
    }
    return true;
}

bool DeleteTopLevel(const std::wstring& directory, bool rethrow)
{
    const std::wstring full = osh::GetFullPath(directory);
    const std::size_t cut = full.find_last_of(L'\\');
    const std::string notDirectory = "DeleteDirectory: '" + osh::Narrow(directory) + "' is not a directory";
    // A drive root is no folder to delete.
    if (cut == std::wstring::npos || cut + 1 >= full.size()) throw std::runtime_error(notDirectory);
    const std::wstring name = full.substr(cut + 1);
    osh::PinnedFolder parent = [&] {
        try {
            return osh::PinnedFolder::Open(full.substr(0, cut == 2 ? 3 : cut));
        } catch (const win::exception& error) {
            if (error.code() == ERROR_PATH_NOT_FOUND || error.code() == ERROR_FILE_NOT_FOUND)
                throw std::runtime_error(notDirectory);
            throw;
        }
    }();
    switch (parent.KindOf(name)) {
    case osh::EntryKind::Link: DeleteLink(parent, name); return true;
    case osh::EntryKind::Folder: return DeleteTree(parent, name, rethrow);
    default: throw std::runtime_error(notDirectory);
    }
}

}  // namespace

bool DeleteDirectory(const std::wstring& directory, bool rethrow)
{
    try {
        return DeleteTopLevel(directory, rethrow);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        if (rethrow) throw;
        return false;
    }
}

}  // namespace ziz
