#include "osh/FileHash.h"

#include "osh/Exception.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <vector>

namespace osh {

namespace {

// Large reads: the per-call cost of ReadFile dominated with small blocks.
constexpr DWORD kBlockSize = 1024 * 1024;

[[noreturn]] void ThrowLastError(const std::string& context)
{
    const DWORD error = GetLastError();
    throw win::exception(error, context);
}

HANDLE OpenForSequentialReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace

void ReadFileBlocks(const std::wstring& path, const std::function<void(const unsigned char*, std::size_t)>& consume)
{
    ScopedFile file(OpenForSequentialReading(path));
    if (!file) ThrowLastError("CreateFile(" + Narrow(path) + ")");
    ReadFileBlocks(file.get(), path, consume);
}

void ReadFileBlocks(HANDLE file, const std::wstring& name,
                    const std::function<void(const unsigned char*, std::size_t)>& consume)
{
    const std::string label = Narrow(name);
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) ThrowLastError("SetFilePointerEx(" + label + ")");
    std::vector<unsigned char> block(kBlockSize);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block.data(), kBlockSize, &read, nullptr)) ThrowLastError("ReadFile(" + label + ")");
        if (read == 0) return;
        consume(block.data(), read);
    }
}

FileDigests CalculateFileDigests(const std::wstring& path)
{
    DigestPair digests;
    ReadFileBlocks(path, [&digests](const unsigned char* data, std::size_t size) { digests.Update(data, size); });
    return digests.Finish();
}

bool CalculateFileDigests(const std::wstring& path, FileDigests& out)
{
    out = FileDigests();
    try {
        out = CalculateFileDigests(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool CalculateFileDigests(HANDLE file, const std::wstring& name, FileDigests& out)
{
    out = FileDigests();
    try {
        DigestPair digests;
        ReadFileBlocks(file, name, [&digests](const unsigned char* data, std::size_t size) { digests.Update(data, size); });
        out = digests.Finish();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::wstring CalculateFileHash(const std::wstring& path) { return CalculateFileDigests(path).Md5; }

bool CalculateFileHash(const std::wstring& path, std::wstring& out)
{
    FileDigests digests;
    const bool calculated = CalculateFileDigests(path, digests);
    out = digests.Md5;
    return calculated;
}

bool GetFileByteCount(const std::wstring& path, std::uint64_t& bytes)
{
    bytes = 0;
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && GetFileByteCount(file.get(), bytes);
}

bool GetFileByteCount(HANDLE file, std::uint64_t& bytes)
{
    bytes = 0;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return false;
    bytes = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

}  // namespace osh
