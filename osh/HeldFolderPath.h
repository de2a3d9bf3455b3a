#pragma once
// A folder path that keeps naming one folder, for what takes only a path: the working
// directory of a program the elevated run starts, a script's argument. Every folder from the
// drive root down is opened relative to the one before, none of them a link, and held without
// sharing delete, so none of them can be renamed, moved or removed (and so none swapped for a
// junction) until the hold ends.
#include "osh/PinnedFolder.h"

#include <string>
#include <vector>

namespace osh {

class HeldFolderPath {
public:
    // Holds the folders of pinned's path. Throws RefusedEntry when one on the way is now a
    // link or a file, std::runtime_error "<path> is no longer the folder that was opened"
    // when the path now leads to another folder than pinned, and win::exception for what the
    // system refuses (a folder on the way held by another program with delete access).
    explicit HeldFolderPath(const PinnedFolder& pinned);

    const std::wstring& Path() const { return path_; }

private:
    std::wstring path_;
    std::vector<PinnedFolder> held_;
};

}  // namespace osh
