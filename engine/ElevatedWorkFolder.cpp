#include "engine/ElevatedWorkFolder.h"

#include "osh/Elevation.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PinnedFolder.h"
#include "osh/Registry.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/SecureFolder.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <mutex>
#include <vector>

namespace ziz {

namespace {

// A fresh name is tried again only when the GUID happened to be taken.
constexpr int kCreationAttempts = 16;

// The log set-up (main thread) and the engine (worker thread) both reach these.
struct RunFolders {
    std::mutex lock;
    std::wstring workFolder;
    std::wstring keep;
    std::vector<std::wstring> made;
};

RunFolders& Folders()
{
    static RunFolders folders;
    return folders;
}

// A new admin-only folder named prefix + GUID below parent; empty when none could be made.
std::wstring MakeAdminOnlyFolder(const std::wstring& parent, const std::wstring& prefix)
{
    std::wstring guid;
    for (int attempt = 0; attempt < kCreationAttempts && osh::CreateGuidString(guid); ++attempt) {
        const std::wstring candidate = osh::AppendBackslash(parent) + prefix + guid;
        if (osh::CreateAdminOnlyDirectory(candidate)) return candidate;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return std::wstring();
}

// The system's temporary folder lets users make folders in it, so only a folder this run
// makes there, under a new name, is its own; a link on the way would carry even that
// elsewhere, so the folder is given up then.
std::wstring MakeSystemTempFolder(const std::wstring& prefix, const std::wstring& what)
{
    const std::wstring parent = SystemTempFolder();
    const std::wstring folder = parent.empty() ? std::wstring() : MakeAdminOnlyFolder(parent, prefix);
    if (folder.empty()) {
        osh::LogWarning(L"Could not make " + what + L" below " + parent);
        return folder;
    }
    osh::FolderFacts facts = osh::GatherFolderFacts(folder);
    facts.createdByThisRun = true;
    const osh::FolderVerdict verdict = osh::JudgeFolder(facts);
    if (verdict.usable) return folder;
    osh::LogWarning(L"No " + what + L" at " + folder + L": " + osh::Widen(verdict.reason));
    RemoveDirectoryW(folder.c_str());
    return std::wstring();
}

// Makes the missing folders of a folder an elevated run writes into, then judges it again:
// a folder someone else made meanwhile is judged as it is found.
osh::FolderVerdict MakeAndCheck(const std::wstring& folder, const std::wstring& systemOwner, const std::wstring& within)
{
    try {
        osh::PinnedFolder::OpenCreating(folder, osh::kAdminOnlyDirectorySddl);
    } catch (const std::exception& error) {
        return osh::FolderVerdict{false, error.what()};
    }
    return osh::CheckFolderForElevatedWrite(folder, systemOwner, within);
}

// A program the run started may still be ending with the folder as its current directory
// (a console host, an installer's helper): the folder cannot be removed until it has gone.
void WaitUntilNoProcessWorksIn(const std::wstring& folder, unsigned long waitMs)
{
    constexpr unsigned long kStepMs = 100;
    for (unsigned long waited = 0; waited < waitMs; waited += kStepMs) {
        const osh::ScopedFile probe(CreateFileW(folder.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (probe.valid() || GetLastError() != ERROR_SHARING_VIOLATION) return;
        Sleep(kStepMs);
    }
}

std::wstring MakeWorkFolder() { return MakeSystemTempFolder(L"Norlo-", L"an elevated work folder"); }

std::wstring WorkFolderLocked(RunFolders& folders)
{
    // A folder that went away (an administrator cleaned up) is made afresh, never followed.
    if (!folders.workFolder.empty() &&
        (!osh::IsDirectory(folders.workFolder) || osh::IsReparsePoint(folders.workFolder)))
        folders.workFolder.clear();
    if (folders.workFolder.empty()) folders.workFolder = MakeWorkFolder();
    return folders.workFolder;
}

}  // namespace

bool IsElevatedRun() { return osh::QueryElevation() == 0; }

std::wstring SystemTempFolder()
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return osh::AppendBackslash(std::wstring(windows, length)) + L"Temp";
}

std::wstring ElevatedWorkFolder()
{
    if (!IsElevatedRun()) return std::wstring();
    RunFolders& folders = Folders();
    std::lock_guard<std::mutex> guard(folders.lock);
    return WorkFolderLocked(folders);
}

std::wstring ElevatedComponentFolder()
{
    const std::wstring work = ElevatedWorkFolder();
    if (work.empty()) return work;
    const std::wstring folder = osh::AppendBackslash(work) + L"components";
    // Made once per work folder; inside it nobody but an administrator can have made it.
    if (osh::IsDirectory(folder) && !osh::IsReparsePoint(folder)) return folder;
    if (osh::CreateAdminOnlyDirectory(folder)) return folder;
    osh::LogWarning(L"Could not make the components folder " + folder);
    return std::wstring();
}

std::wstring MakeLastingAdminOnlyFolder()
{
    return MakeSystemTempFolder(L"Norlo-Restart-", L"a folder for the copy the next logon starts");
}

bool CreateRunTempFolder(std::wstring& folder)
{
    folder.clear();
    RunFolders& folders = Folders();
    if (IsElevatedRun()) {
        std::lock_guard<std::mutex> guard(folders.lock);
        const std::wstring work = WorkFolderLocked(folders);
        // Inside the work folder, and removed with it.
        if (!work.empty()) folder = MakeAdminOnlyFolder(work, L"");
        return !folder.empty();
    }
    if (!osh::CreateNewTempDirectory(folder)) return false;
    std::lock_guard<std::mutex> guard(folders.lock);
    folders.made.push_back(folder);
    return true;
}

std::wstring SafeWriteFolder(const std::string& what, const std::wstring& named, std::string& refusal,
                             const std::wstring& within)
{
    refusal.clear();
    if (!IsElevatedRun()) return named;
    const std::wstring work = ElevatedWorkFolder();
    const std::wstring systemOwner = osh::SystemOwnerSid();
    osh::FolderVerdict verdict = osh::CheckFolderForElevatedWrite(named, systemOwner, within);
    if (verdict.usable && !osh::IsDirectory(named)) verdict = MakeAndCheck(named, systemOwner, within);
    const std::wstring folder = osh::ChooseWriteFolder(true, named, verdict, work);
    if (!verdict.usable) refusal = osh::RefusalLine(what, named, verdict, folder.empty() ? L"nothing" : folder);
    return folder;
}

void KeepInWorkFolder(const std::wstring& fileName)
{
    RunFolders& folders = Folders();
    std::lock_guard<std::mutex> guard(folders.lock);
    folders.keep = fileName;
}

void RemoveRunFolders(unsigned long waitMs)
{
    RunFolders& folders = Folders();
    std::lock_guard<std::mutex> guard(folders.lock);
    for (const std::wstring& folder : folders.made) osh::RemoveTreeWithoutFollowingLinks(folder);
    folders.made.clear();
    if (folders.workFolder.empty()) return;
    WaitUntilNoProcessWorksIn(folders.workFolder, waitMs);
    const bool removed = osh::RemoveTreeWithoutFollowingLinks(folders.workFolder, folders.keep);
    // A work folder that keeps the log stays in use until the process ends; one that could
    // not be removed yet is tried again by a later call.
    if (removed && folders.keep.empty()) folders.workFolder.clear();
}

}  // namespace ziz
