#pragma once
// The check of a component file that is already open: every byte checked is read through
// that handle, so a holder that denies writers knows the checked bytes are the file's.
#include "engine/Worker.h"

#include <windows.h>

#include <string>

namespace ziz {

// Worker::VerifyItemFile on an open file: size, digests and signature through file, the
// version by path (which names the same bytes while the holder denies writers). An invalid
// handle fails as a file that cannot be opened. Logs and records the first failure.
bool VerifyOpenItemFile(Worker& worker, const InstallItem& item, const std::wstring& path, HANDLE file);

}  // namespace ziz
