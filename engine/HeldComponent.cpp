#include "engine/HeldComponent.h"

#include "engine/VerifyItemFile.h"

#include <windows.h>

namespace ziz {

namespace {

// A link's target can be swapped without touching the link's own handle: only a plain
// file is held. The link itself is opened, never followed.
HANDLE OpenDenyingWriters(const std::wstring& path)
{
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file || !GetFileInformationByHandle(file.get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0)
        return INVALID_HANDLE_VALUE;
    return file.release();
}

}  // namespace

HeldComponent::HeldComponent(const std::wstring& path) : path_(path), file_(OpenDenyingWriters(path)) {}

bool HeldComponent::Verify(Worker& worker, const InstallItem& item) const
{
    return VerifyOpenItemFile(worker, item, path_, file_.get());
}

}  // namespace ziz
