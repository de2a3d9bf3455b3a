#pragma once
// Removal of a directory tree that respects ".nodelete" markers.
#include <string>

namespace ziz {

// Deletes the directory and everything in it; true when all of it is gone. A directory
// holding a ".nodelete" entry is kept untouched, and so is every directory above it.
// Read-only entries are made writable first. Failures are logged; with rethrow set the
// first exception is passed on to the caller, otherwise the walk goes on and the answer
// is false. A path that is not a directory is such a failure too. A junction or symbolic
// link, the directory itself or any entry below it, is removed as a link and never followed.
bool DeleteDirectory(const std::wstring& directory, bool rethrow);

}  // namespace ziz
