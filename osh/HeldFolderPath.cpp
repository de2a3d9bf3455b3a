#include "osh/HeldFolderPath.h"

#include "osh/FileSystem.h"
#include "osh/Text.h"

#include <stdexcept>

namespace osh {

HeldFolderPath::HeldFolderPath(const PinnedFolder& pinned) : path_(pinned.Path())
{
    std::wstring root;
    std::vector<std::wstring> names;
    if (!SplitDrivePath(GetFullPath(path_), root, names))
        throw std::runtime_error(Narrow(path_) + " is not a full drive path of plain names");
    // The drive root cannot be renamed or removed; every folder below it is held.
    held_.push_back(PinnedFolder::Open(root));
    for (const std::wstring& name : names) held_.push_back(held_.back().HoldFolder(name));
    // Swapped after pinned was opened (moved away, another folder made in its place): the
    // path no longer leads there, and what it leads to now is not what was checked.
    if (!held_.back().IsSameFolderAs(pinned))
        throw std::runtime_error(Narrow(path_) + " is no longer the folder that was opened");
}

}  // namespace osh
