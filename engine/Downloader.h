#pragma once
// Fetching the components of the install sequence into their local paths.
#include "engine/Worker.h"

#include <string>

namespace ziz {

// Fetches item.Url into "<LocalPath>.partial", checks it against the item and only then
// gives it the name LocalPath. When that address fails (refused, a failed transfer or check)
// the item's mirrors are asked in turn, each failure logged with its address and why; the
// exception of the last address is thrown. An interrupted earlier transfer is continued from the bytes
// of the partial file (not with clean); a continued file that fails its check is fetched
// whole once more. With clean, the file's own copies are first purged from the Internet
// cache (PurgeFromInternetCache; failures there are only logged). Tells the engine
// StatusDownloading with index and count first.
// Progress lines reach the log when the engine is an OSWorker. Throws std::runtime_error
// "Download of \"url\" failed: <reason>" when the transfer fails, and "Download failed file
// integrity check" when the file fails the item's checks; the partial file stays on disk.
void DownloadItem(Worker& worker, const InstallItem& item, int index, int count, bool clean);

// Deletes, in root and in every directory below it, the first entry matching pattern
// (read-only cleared first; a link is removed itself). Never enters or follows a junction or
// symbolic link. Stops descending after the first subtree that fails.
// Never throws: every failure is logged as a warning and gives false.
bool PurgeFileFromTree(const std::wstring& root, const std::wstring& pattern);

}  // namespace ziz
