#include "osh/OwnImage.h"

#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"

#include <exception>
#include <vector>

namespace osh {

namespace {

OwnImage OpenOwnImage()
{
    OwnImage image;
    try {
        image.path = ModuleFileName(nullptr);
        image.file = CreateFileW(image.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (image.file == INVALID_HANDLE_VALUE)
            image.failure = win::exception(GetLastError(), "CreateFile(" + Narrow(image.path) + ")").what();
    } catch (const std::exception& error) {
        image.failure = error.what();
    }
    return image;
}

// Closes the handle when the process ends.
struct HeldImage {
    OwnImage image = OpenOwnImage();
    ScopedFile guard{image.file};
};

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size, DWORD& read)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return ReadFile(file, buffer, size, &read, &at) != FALSE;
}

// Reads at explicit offsets: the held handle is shared by every reader of this process.
bool CopyBytes(const OwnImage& image, HANDLE out, const std::wstring& target)
{
    std::vector<char> buffer(64 * 1024);
    LONGLONG offset = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadAt(image.file, offset, buffer.data(), static_cast<DWORD>(buffer.size()), read)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF) return true;
            LogError(win::exception(error, "ReadFile(" + Narrow(image.path) + ")").what());
            return false;
        }
        if (read == 0) return true;
        DWORD written = 0;
        if (!WriteFile(out, buffer.data(), read, &written, nullptr) || written != read) {
            LogError(win::exception(GetLastError(), "WriteFile(" + Narrow(target) + ")").what());
            return false;
        }
        offset += read;
    }
}

}  // namespace

const OwnImage& HeldOwnImage()
{
    static const HeldImage held;
    return held.image;
}

bool CopyOwnImage(const std::wstring& target, bool failIfExists)
{
    const OwnImage& image = HeldOwnImage();
    if (image.file == INVALID_HANDLE_VALUE) {
        LogError(L"No copy of this program at " + target + L": its own file is not held (" + Widen(image.failure) +
                 L")");
        return false;
    }
    ScopedFile out(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, failIfExists ? CREATE_NEW : CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out) {
        LogError(win::exception(GetLastError(), "CreateFile(" + Narrow(target) + ")").what());
        return false;
    }
    if (CopyBytes(image, out.get(), target)) return true;
    // No half copy stays behind to be started later.
    out.reset();
    DeleteFileW(target.c_str());
    return false;
}

}  // namespace osh
