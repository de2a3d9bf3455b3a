// Reading a downloaded document from disk.
#include "sequence/Blob.h"

#include "osh/Log.h"
#include "osh/ScopedHandle.h"

#include <windows.h>

#include <string>

namespace {

// Fills bytes from the file's start; a file that shrank meanwhile leaves fewer bytes, one
// that grew is read only up to the size already checked.
bool ReadInto(HANDLE file, Blob& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr)) return false;
        if (read == 0) break;
        done += read;
    }
    bytes.resize(done);
    return true;
}

bool OpenFailed()
{
    osh::LogError("Sequence file open failed");
    return false;
}

}  // namespace

bool ReadFileBlob(const std::wstring& path, Blob& blob)
{
    // Other programs (a virus scanner, a second copy of us) may hold the file open.
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) return OpenFailed();
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxSequenceFileSize) {
        osh::LogError("Sequence file too large (" + std::to_string(size.QuadPart) + " bytes, at most " +
                      std::to_string(kMaxSequenceFileSize) + ")");
        return false;
    }
    Blob bytes(static_cast<size_t>(size.QuadPart));
    if (!ReadInto(file.get(), bytes)) return OpenFailed();
    blob.swap(bytes);
    return true;
}
