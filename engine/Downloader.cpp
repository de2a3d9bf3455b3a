#include "engine/Downloader.h"

#include "engine/CachePurge.h"
#include "engine/OSWorker.h"
#include "engine/mirrors/AddressAttempts.h"
#include "osh/DownloadFailure.h"
#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/HttpTransfer.h"
#include "osh/Log.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"
#include "osh/WebAddress.h"

#include <windows.h>
#include <urlmon.h>

#include <exception>
#include <stdexcept>
#include <vector>

namespace ziz {

namespace {

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// Only the first entry the file system lists is removed; failures are logged and passed over.
void DeleteFirstMatch(const std::wstring& directory, const std::wstring& pattern)
{
    WIN32_FIND_DATAW entry{};
    osh::ScopedFind find(FindFirstFileW((osh::AppendBackslash(directory) + pattern).c_str(), &entry));
    if (!find) return;
    const std::wstring path = osh::AppendBackslash(directory) + entry.cFileName;
    try {
        if (osh::HasReparseAttribute(entry.dwFileAttributes)) {
            // Only the link goes; its attributes could reach what it points to.
            osh::RemoveLink(path);
            osh::LogInformation(L"Link \"" + path + L"\" removed without following it.");
            return;
        }
        osh::SetReadOnly(path, false);
        if (!DeleteFileW(path.c_str())) throw win::exception(GetLastError(), "DeleteFile()");
        osh::LogInformation(L"File \"" + path + L"\" deleted.");
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
    }
}

// Descends into every subdirectory until one of them fails.
bool PurgeSubdirectories(const std::wstring& directory, const std::wstring& pattern)
{
    WIN32_FIND_DATAW entry{};
    osh::ScopedFind find(FindFirstFileW((osh::AppendBackslash(directory) + L"*").c_str(), &entry));
    if (!find) throw win::exception(GetLastError(), "FindFirstFile");
    for (;;) {
        // A link to a folder is never descended into: it may point anywhere.
        const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                 !osh::HasReparseAttribute(entry.dwFileAttributes);
        if (isDirectory && !IsDotEntry(entry.cFileName) &&
            !PurgeFileFromTree(osh::AppendBackslash(directory) + entry.cFileName, pattern))
            return false;
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_FILES) throw win::exception(error, "FindNextFile");
            return true;
        }
    }
}

bool PurgeTree(const std::wstring& root, const std::wstring& pattern)
{
    const std::wstring full = osh::GetFullPath(root);
    if (!osh::IsDirectory(full))
        throw std::runtime_error("PurgeFileFromTree: '" + osh::Narrow(full) + "' is not a directory");
    // Checked at every level: a folder listed as plain may have become a link since.
    if (osh::IsReparsePoint(full)) throw std::runtime_error("PurgeFileFromTree: '" + osh::Narrow(full) + "' is a link");
    DeleteFirstMatch(full, pattern);
    return PurgeSubdirectories(full, pattern);
}

// The download writes over an existing file. A copy held open by another program, or
// marked read-only, must stop the run before the transfer: the system's download call
// can report success without having written anything.
void EnsureReplaceable(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    const std::string context = "Cannot replace \"" + osh::Narrow(path) + "\"";
    if (attributes & FILE_ATTRIBUTE_READONLY) throw win::exception(static_cast<DWORD>(ERROR_ACCESS_DENIED), context);
    osh::ScopedFile file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw win::exception(GetLastError(), context);
}

// Progress lines go to the log only when the engine is the concrete one.
IBindStatusCallback* ProgressSinkOf(Worker& worker)
{
    OSWorker* engine = dynamic_cast<OSWorker*>(&worker);
    return engine != nullptr ? static_cast<IBindStatusCallback*>(engine) : nullptr;
}

// Where a component grows until it passed its check; an interrupted transfer continues it.
std::wstring PartialPathOf(const std::wstring& localPath) { return localPath + L".partial"; }

// One transfer of the item into partial; a failure is recorded, logged with its reason and thrown.
osh::TransferResult Transfer(Worker& worker, const InstallItem& item, const std::wstring& partial,
                             const osh::TransferOptions& options)
{
    osh::TransferResult transfer = osh::TransferToFile(item.Url, partial, options);
    if (transfer.complete) return transfer;
    const std::string line = osh::TransferFailureLine(item.Url, transfer.failure);
    osh::LogError(line);
    worker.Report().Record(item.Filename, ComponentAction::Failed);
    worker.Report().RecordFailedCheck(item.Filename, "download");
    throw std::runtime_error(line);
}

// One address: refused, transferred, checked and moved to the final name. stage tells the
// caller, when this throws, which step failed.
void FetchFromAddress(Worker& worker, const InstallItem& item, bool clean, AttemptOutcome& stage)
{
    osh::LogInformation(L"Downloading \"" + item.Filename + L"\" from \"" + item.Url + L"\"");
    try {
        stage = AttemptOutcome::Refused;
        osh::RequireWebAddress(item.Url);
        stage = AttemptOutcome::LocalFailure;
        EnsureReplaceable(item.LocalPath);
    } catch (const std::exception&) {
        // Refused before the transfer: the caller still learns which component failed.
        worker.Report().RecordFailedCheck(item.Filename, "download");
        throw;
    }
    const std::wstring partial = PartialPathOf(item.LocalPath);
    osh::TransferOptions options;
    // "clean" asks for every component anew, so bytes of an earlier attempt are not kept either.
    // An elevated run fetches into its own admin-only folder, made new for the run, so it only
    // ever continues bytes it wrote itself; a ".partial" in the setup files, which any user
    // could have written (or made a link to a file only administrators may read), is never
    // continued by it.
    options.resume = !clean;
    options.progress = ProgressSinkOf(worker);
    stage = AttemptOutcome::TransferFailed;
    osh::TransferResult transfer = Transfer(worker, item, partial, options);
    // The check below turns this into Failed with the check's name.
    worker.Report().Record(item.Filename, ComponentAction::Downloaded);
    const RunReport beforeCheck = worker.Report();
    stage = AttemptOutcome::CheckFailed;
    bool verified = worker.VerifyItemFile(item, partial);
    if (!verified && transfer.resumed) {
        // The kept bytes may be of another file or damaged: one whole transfer more, whose
        // own check alone decides what the report says.
        osh::LogWarning(L"Resumed file \"" + partial + L"\" failed its check; downloading it whole again");
        worker.Report() = beforeCheck;
        DeleteFileW(partial.c_str());
        options.resume = false;
        stage = AttemptOutcome::TransferFailed;
        transfer = Transfer(worker, item, partial, options);
        worker.Report().Record(item.Filename, ComponentAction::Downloaded);
        stage = AttemptOutcome::CheckFailed;
        verified = worker.VerifyItemFile(item, partial);
    }
    if (!verified) {
        // A full drive shows up here too, so say which file it was.
        osh::LogError(L"Downloaded file \"" + partial + L"\" is not the expected component");
        throw std::runtime_error("Download failed file integrity check");
    }
    stage = AttemptOutcome::LocalFailure;
    if (!MoveFileExW(partial.c_str(), item.LocalPath.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
        const DWORD error = GetLastError();
        worker.Report().RecordFailedCheck(item.Filename, "download");
        throw win::exception(error, "MoveFileEx(\"" + osh::Narrow(partial) + "\",\"" + osh::Narrow(item.LocalPath) + "\")");
    }
}

}  // namespace

bool PurgeFileFromTree(const std::wstring& root, const std::wstring& pattern)
{
    try {
        return PurgeTree(root, pattern);
    } catch (const std::exception& e) {
        osh::LogWarning(e.what());
        return false;
    }
}

void DownloadItem(Worker& worker, const InstallItem& item, int index, int count, bool clean)
{
    if (clean) PurgeFromInternetCache(item.Filename);
    worker.Notify(StatusDownloading, index, count);
    const std::wstring partial = PartialPathOf(item.LocalPath);
    // Each address starts from the report as it was: only the last attempt's facts count.
    const RunReport before = worker.Report();
    std::exception_ptr lastError;
    AttemptOutcome previous = AttemptOutcome::Accepted;
    std::vector<std::wstring> addresses = item.Addresses();
    // An item without any address is refused by the address check, with its line.
    if (addresses.empty()) addresses.push_back(item.Url);
    const AttemptOutcome outcome = TryAddresses(addresses, [&](const std::wstring& address, std::string& reason) {
        // Bytes another address sent that failed the check must not start the next file.
        if (previous == AttemptOutcome::CheckFailed) DeleteFileW(partial.c_str());
        worker.Report() = before;
        InstallItem source = item;
        source.Url = address;
        AttemptOutcome stage = AttemptOutcome::Refused;
        try {
            FetchFromAddress(worker, source, clean, stage);
            previous = AttemptOutcome::Accepted;
        } catch (const std::exception& error) {
            lastError = std::current_exception();
            reason = error.what();
            previous = stage;
        }
        return previous;
    });
    if (outcome == AttemptOutcome::Accepted) return;
    if (lastError) std::rethrow_exception(lastError);
    worker.Report().RecordFailedCheck(item.Filename, "download");
    throw std::runtime_error("No download address for \"" + osh::Narrow(item.Filename) + "\"");
}

}  // namespace ziz
