// Reading a downloaded document from disk.
#include "sequence/Blob.h"

#include "osh/Log.h"
#include "osh/ScopedHandle.h"

#include <windows.h>

namespace {

bool ReadWholeFile(HANDLE file, Blob& bytes)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart > 0x7FFFFFFF) return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) return false;
        if (read == 0) break;  // the file shrank while we read it
        done += read;
    }
    bytes.resize(done);
    return true;
}

}  // namespace

bool ReadFileBlob(const std::wstring& path, Blob& blob)
{
    // Other programs (a virus scanner, a second copy of us) may hold the file open.
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    Blob bytes;
    if (!file || !ReadWholeFile(file.get(), bytes)) {
        osh::LogError("Sequence file open failed");
        return false;
    }
    blob.swap(bytes);
    return true;
}
