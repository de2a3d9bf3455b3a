#pragma once
// Fetching the components of the install sequence into their local paths.
#include "engine/Worker.h"

#include <string>

namespace ziz {

// Fetches item.Url into item.LocalPath and checks the file against the item. With clean,
// stale copies of the file are first purged from the Internet cache (failures there are
// only logged). Tells the engine StatusDownloading with index and count first. Progress
// lines reach the log when the engine is an OSWorker. Throws win::exception
// "URLDownloadToFile(\"url\",\"path\")" when the system does not report S_OK, and
// std::runtime_error "Download failed file integrity check" when the file fails the
// item's checks; the file stays on disk in both cases.
void DownloadItem(Worker& worker, const InstallItem& item, int index, int count, bool clean);

// Deletes, in root and in every directory below it, the first entry matching pattern
// (read-only cleared first). Stops descending after the first subtree that fails.
// Never throws: every failure is logged as a warning and gives false.
bool PurgeFileFromTree(const std::wstring& root, const std::wstring& pattern);

}  // namespace ziz
