// The engine's check of a component file against what its install sequence item promises.
#include "engine/VerifyItemFile.h"

#include "osh/FileHash.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/Signature.h"
#include "osh/Text.h"
#include "sequence/ItemIntegrity.h"

#include <windows.h>

namespace ziz {

namespace {

HANDLE OpenForReading(const std::wstring& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The result names the check by its short name; the record is the item's file name.
bool Fail(RunReport& report, const InstallItem& item, const char* check, const wchar_t* reason, const std::wstring& path)
{
    osh::LogWarning(reason + path);
    report.RecordFailedCheck(item.Filename, check);
    return false;
}

}  // namespace

// The order of the checks is fixed; only the first failure is reported.
bool VerifyOpenItemFile(Worker& worker, const InstallItem& item, const std::wstring& path, HANDLE file)
{
    RunReport& report = worker.Report();
    if (file == nullptr || file == INVALID_HANDLE_VALUE) return Fail(report, item, "open", L"Unable to open file ", path);

    // A cut-off transfer is caught without reading the file.
    std::uint64_t bytes = 0;
    if (!item.Size.empty() && !(osh::GetFileByteCount(file, bytes) && SizeMatches(item, bytes)))
        return Fail(report, item, "size", L"Size comparison failure on file ", path);

    if (!item.Hash.empty() || !item.Sha256.empty()) {
        osh::FileDigests digests;
        if (!osh::CalculateFileDigests(file, path, digests))
            return Fail(report, item, "md5", L"Hash calculation failure on file ", path);
        if (!item.Hash.empty() && !DigestsEqual(item.Hash, digests.Md5))
            return Fail(report, item, "md5", L"Hash comparison failure on file ", path);
        if (!item.Sha256.empty() && !DigestsEqual(item.Sha256, digests.Sha256))
            return Fail(report, item, "sha256", L"SHA-256 comparison failure on file ", path);
    }

    if (worker.IsSelfSigned() && !osh::CheckFileSignature(file, path))
        return Fail(report, item, "signature", L"Signature check failure on file ", path);

    if (!item.Version.empty()) {
        std::wstring version;
        if (!worker.GetFileVersion(version, path))
            return Fail(report, item, "version", L"Version retrieval failure on file ", path);
        // Compared as stored: "5, 0, 1, 2" is not "5.0.1.2".
        if (version != item.Version) return Fail(report, item, "version", L"Version comparison failure on file ", path);
    }
    return true;
}

bool Worker::VerifyItemFile(const InstallItem& item, const std::wstring& path)
{
    const osh::ScopedFile file(OpenForReading(path));
    return VerifyOpenItemFile(*this, item, path, file.get());
}

}  // namespace ziz
