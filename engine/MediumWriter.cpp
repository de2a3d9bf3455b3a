#include "engine/MediumWriter.h"

#include "osh/DiskSpace.h"
#include "osh/Exception.h"
#include "osh/FileHash.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Timestamp.h>

#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

namespace ziz {

namespace {

VolumeInformationFunction g_volumeInformation = nullptr;
MediumWrittenHook g_writtenHook = nullptr;

// A record is a few kilobytes; anything far larger is not one.
const std::uint64_t kLargestRecord = 4u * 1024 * 1024;
// Unbuffered reads must start at sector boundaries of the buffer; 4096 covers every
// sector size in use.
const std::size_t kSectorAlignment = 4096;
const DWORD kReadBlock = 1024 * 1024;

std::wstring Join(const std::wstring& folder, const std::wstring& name) { return osh::AppendBackslash(folder) + name; }

// The NtCreateFile values.
const ULONG kFileOpen = 1;
const ULONG kFileCreate = 2;
const ULONG kNoIntermediateBuffering = 0x00000008;

void RemoveQuietly(const osh::PinnedFolder& folder, const std::wstring& name)
{
    try {
        folder.Remove(name);
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
}

// A new file, never one that was there: whatever stood under the name is removed first.
osh::ScopedFile CreateNew(const osh::PinnedFolder& folder, const std::wstring& name)
{
    folder.Remove(name);
    return folder.OpenFile(name, GENERIC_WRITE, 0, kFileCreate);
}

void CopyInto(const std::wstring& source, HANDLE target, const std::wstring& written)
{
    osh::ScopedFile from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!from) throw win::exception(GetLastError(), "CreateFile(\"" + osh::ToUtf8(source) + "\")");
    std::vector<unsigned char> block(kReadBlock);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(from.get(), block.data(), kReadBlock, &read, nullptr))
            throw win::exception(GetLastError(), "ReadFile(\"" + osh::ToUtf8(source) + "\")");
        if (read == 0) break;
        osh::WriteFile(target, block.data(), read, nullptr);
    }
    // On the medium before the rename makes it count.
    if (!FlushFileBuffers(target)) throw win::exception(GetLastError(), "FlushFileBuffers(\"" + osh::ToUtf8(written) + "\")");
}

osh::FileDigests DigestsThroughCache(const osh::PinnedFolder& folder, const std::wstring& name)
{
    const osh::ScopedFile file = folder.OpenFile(name, GENERIC_READ, FILE_SHARE_READ, kFileOpen);
    osh::DigestPair digests;
    std::vector<unsigned char> block(kReadBlock);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), block.data(), kReadBlock, &read, nullptr))
            throw win::exception(GetLastError(), "ReadFile(\"" + osh::ToUtf8(folder.PathOf(name)) + "\")");
        if (read == 0) break;
        digests.Update(block.data(), read);
    }
    return digests.Finish();
}

// Null when the file system refuses unbuffered access; the caller then reads through the cache.
osh::ScopedFile OpenUnbuffered(const std::wstring& path)
{
    return osh::ScopedFile(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

}  // namespace

void RequireWritableTarget(const std::wstring& target)
{
    if (!osh::IsDirectory(target)) throw std::runtime_error("Appliance target " + osh::ToUtf8(target) + " is not a folder");
    const std::wstring probe = Join(target, L"norlo-write-probe.tmp");
    osh::ScopedFile file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        throw win::exception(error, "Appliance target " + osh::ToUtf8(target) + " is not writable");
    }
}

bool MediumFileSystem(const std::wstring& target, std::wstring& fileSystem)
{
    const std::wstring root = osh::AppendBackslash(osh::VolumeOf(target));
    wchar_t name[MAX_PATH + 1] = {};
    DWORD flags = 0;
    const VolumeInformationFunction query = g_volumeInformation ? g_volumeInformation : &GetVolumeInformationW;
    if (!query(root.c_str(), nullptr, 0, nullptr, nullptr, &flags, name, MAX_PATH + 1)) {
        const DWORD error = GetLastError();
        osh::LogWarning("File system of " + osh::ToUtf8(root) + " not known, writing without its limits: " +
                        win::exception(error, "GetVolumeInformation").what());
        return false;
    }
    if (flags & FILE_READ_ONLY_VOLUME) throw std::runtime_error("Appliance target " + osh::ToUtf8(target) + " is on a read-only volume");
    fileSystem = name;
    return true;
}

namespace {

// False when unbuffered reading is refused: the caller then reads through the cache.
bool DigestsUnbuffered(HANDLE file, const std::wstring& path, osh::FileDigests& result)
{
    std::vector<unsigned char> storage(kReadBlock + kSectorAlignment);
    const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(storage.data());
    unsigned char* block = storage.data() + (kSectorAlignment - start % kSectorAlignment) % kSectorAlignment;
    osh::DigestPair digests;
    for (bool first = true;; first = false) {
        DWORD read = 0;
        if (!ReadFile(file, block, kReadBlock, &read, nullptr)) {
            const DWORD error = GetLastError();
            // Some file systems open unbuffered but refuse to read so.
            if (first && error == ERROR_INVALID_PARAMETER) return false;
            throw win::exception(error, "ReadFile(\"" + osh::ToUtf8(path) + "\")");
        }
        if (read == 0) break;
        digests.Update(block, read);
    }
    result = digests.Finish();
    return true;
}

}  // namespace

osh::FileDigests ReadBackDigests(const std::wstring& path)
{
    osh::ScopedFile file = OpenUnbuffered(path);
    osh::FileDigests digests;
    if (file && DigestsUnbuffered(file.get(), path, digests)) return digests;
    return osh::CalculateFileDigests(path);
}

namespace {

// The same, for a file of a pinned folder.
osh::FileDigests ReadBackDigests(const osh::PinnedFolder& folder, const std::wstring& name)
{
    osh::FileDigests digests;
    try {
        const osh::ScopedFile file =
            folder.OpenFile(name, GENERIC_READ, FILE_SHARE_READ, kFileOpen, kNoIntermediateBuffering);
        if (DigestsUnbuffered(file.get(), folder.PathOf(name), digests)) return digests;
    } catch (const win::exception& error) {
        // A file system that refuses unbuffered access is read through the cache.
        if (error.code() != ERROR_INVALID_PARAMETER && error.code() != ERROR_NOT_SUPPORTED) throw;
    }
    return DigestsThroughCache(folder, name);
}

}  // namespace

MediumFile CopyToMedium(const std::wstring& source, const osh::PinnedFolder& folder, const std::wstring& name,
                        const MediumFile& expected)
{
    const std::wstring written = name + L".new";
    const std::string couldNot =
        "Could not copy \"" + osh::Narrow(source) + "\" to \"" + osh::Narrow(folder.PathOf(name)) + "\"";
    try {
        const osh::ScopedFile file = CreateNew(folder, written);
        CopyInto(source, file.get(), folder.PathOf(written));
    } catch (const std::exception& error) {
        RemoveQuietly(folder, written);
        throw std::runtime_error(couldNot + ": " + error.what());
    }
    if (g_writtenHook) g_writtenHook(folder.PathOf(written));
    std::string mismatch;
    osh::FileDigests digests;
    try {
        digests = ReadBackDigests(folder, written);
        mismatch = DigestMismatch(expected, digests);
    } catch (const std::exception& error) {
        mismatch = error.what();
    }
    if (!mismatch.empty()) {
        RemoveQuietly(folder, written);
        throw std::runtime_error("Read-back of \"" + osh::Narrow(folder.PathOf(name)) + "\" from the medium failed: " +
                                 mismatch);
    }
    try {
        folder.Rename(written, name);
    } catch (const std::exception& error) {
        RemoveQuietly(folder, written);
        throw std::runtime_error(couldNot + ": " + error.what());
    }
    return RecordedFrom(expected, digests);
}

bool ReadMediumRecord(const std::wstring& folder, MediumRecord& record, std::string& problem)
{
    problem.clear();
    const std::wstring path = Join(folder, kMediumRecordName);
    if (!osh::IsFile(path)) return false;
    std::uint64_t bytes = 0;
    if (!osh::GetFileByteCount(path, bytes)) {
        problem = "cannot be opened";
        return false;
    }
    if (bytes > kLargestRecord) {
        problem = "too large (" + std::to_string(bytes) + " bytes)";
        return false;
    }
    std::string text;
    try {
        osh::ReadFileBlocks(path, [&text](const unsigned char* data, std::size_t size) {
            text.append(reinterpret_cast<const char*>(data), size);
        });
    } catch (const std::exception& error) {
        problem = error.what();
        return false;
    }
    return ParseMediumRecord(text, record, problem);
}

void RemoveMediumRecord(const osh::PinnedFolder& folder) { folder.Remove(kMediumRecordName); }

void WriteMediumRecord(const osh::PinnedFolder& folder, const MediumRecord& record)
{
    const std::wstring written = std::wstring(kMediumRecordName) + L".new";
    const std::string text = FormatMediumRecord(record);
    {
        const osh::ScopedFile file = CreateNew(folder, written);
        osh::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), nullptr);
        // On the medium before the rename makes it count.
        if (!FlushFileBuffers(file.get())) {
            const DWORD error = GetLastError();
            throw win::exception(error, "FlushFileBuffers(\"" + osh::ToUtf8(folder.PathOf(written)) + "\")");
        }
    }
    folder.Rename(written, kMediumRecordName);
}

std::map<std::wstring, std::uint64_t> FileSizesIn(const std::wstring& folder)
{
    std::map<std::wstring, std::uint64_t> sizes;
    WIN32_FIND_DATAW data;
    osh::ScopedFind find(FindFirstFileW(Join(folder, L"*").c_str(), &data));
    if (!find) return sizes;
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        sizes[data.cFileName] = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } while (FindNextFileW(find.get(), &data));
    return sizes;
}

std::string RecordTimestamp()
{
    return Poco::DateTimeFormatter::format(Poco::Timestamp(), Poco::DateTimeFormat::ISO8601_FORMAT);
}

VolumeInformationFunction SetVolumeInformationFunction(VolumeInformationFunction function)
{
    return std::exchange(g_volumeInformation, function);
}

MediumWrittenHook SetMediumWrittenHook(MediumWrittenHook hook) { return std::exchange(g_writtenHook, hook); }

}  // namespace ziz
