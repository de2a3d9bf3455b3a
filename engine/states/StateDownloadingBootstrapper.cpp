#include "engine/states/StateDownloadingBootstrapper.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/PublisherTrust.h"
#include "engine/SetupFilesCache.h"
#include "engine/mirrors/AddressAttempts.h"
#include "engine/states/StateChoosingBootstrapper.h"
#include "engine/states/StateFailed.h"
#include "osh/Download.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "sequence/SafeFileName.h"

#include <string>

namespace ziz {

namespace {

// The directory the bootstrapper goes to; false (logged) when the mode has none or the
// location cannot be found.
bool TargetDirectory(Worker& worker, InstallMode mode, std::wstring& directory)
{
    switch (mode) {
    case INSTALL:
    case UPDATE:
        if (worker.GetPath(directory, evTempDir)) return true;
        osh::LogError("Could not discover temp directory");
        return false;
    case DOWNLOAD:
    case APPLIANCE:
        if (!worker.GetPath(directory, evSetup)) {
            osh::LogError("Could not discover setup directory");
            return false;
        }
        // An elevated run fetches into its admin-only folder and only caches a checked copy
        // in the setup files, which standard users can change.
        if (IsElevatedRun()) directory = ElevatedComponentFolder();
        if (!directory.empty()) return true;
        osh::LogError("Could not discover setup directory");
        return false;
    default: osh::LogError("Invalid mode in StateDownloadingBootstrapper::Exec()"); return false;
    }
}

// Downloads and verifies the one bootstrapper item; true when it is ready to run, with
// its LocalPath set. The document naming it came over the network, so beyond the item's
// own checks it must come from this program's publisher. A file that arrived but failed
// a check is deleted, and the item's next address is asked.
bool FetchBootstrapper(Worker& worker, InstallItem& item, const std::wstring& directory)
{
    if (!IsSafeFileName(item.Filename)) {
        osh::LogError(L"Install item has an unsafe file name \"" + item.Filename + L"\"");
        return false;
    }
    worker.Notify(StatusDownloading, 0, 1);
    const std::wstring file = osh::AppendBackslash(directory) + item.Filename;
    const AttemptOutcome outcome = TryAddresses(item.Addresses(), [&](const std::wstring& address, std::string& reason) {
        if (!osh::DownloadToFile(file, address, reason)) {
            osh::LogError(L"Unable to download " + address);
            return AttemptOutcome::TransferFailed;
        }
        osh::LogInformation(L"Downloaded " + file);
        InstallItem source = item;
        source.Url = address;
        if (worker.VerifyItemFile(source, file) && PublisherTrust::OfRunningProgram().Accepts(file)) return AttemptOutcome::Accepted;
        osh::RemoveFile(file);
        reason = "the file failed its checks";
        return AttemptOutcome::CheckFailed;
    });
    if (outcome == AttemptOutcome::Accepted) {
        item.SetLocalPath(file);
        return true;
    }
    osh::LogError(item.Filename + L" not ready for install");
    return false;
}

}  // namespace

StateDownloadingBootstrapper StateDownloadingBootstrapper::instance_;

StateDownloadingBootstrapper::StateDownloadingBootstrapper() : WorkerState(L"DownloadingBootstrapper") {}

StateDownloadingBootstrapper* StateDownloadingBootstrapper::Instance() { return &instance_; }

WorkerState* StateDownloadingBootstrapper::Exec(Worker& worker)
{
    const InstallMode mode = worker.GetMode();
    std::wstring directory;
    if (!TargetDirectory(worker, mode, directory)) return StateFailed::Instance();

    InstallSequence list;
    worker.GetItems(list);
    bool ready = false;
    if (list.size() != 1) {
        osh::LogWarning("Install Item list invalid (" + std::to_string(list.size()) + ")");
        list.clear();
    } else {
        InstallItem item = list.front();
        list.clear();
        ready = FetchBootstrapper(worker, item, directory);
        if (ready) list.push_back(item);
        std::wstring setupDirectory;
        if (ready && (mode == DOWNLOAD || mode == APPLIANCE) && worker.GetPath(setupDirectory, evSetup))
            CopyIntoSetupFiles(setupDirectory, item.LocalPath, item.Filename);
    }
    worker.SetItems(list);

    if (mode == INSTALL || mode == UPDATE || ready) return StateChoosingBootstrapper::Instance();
    osh::LogError("Cannot continue download.");
    return StateFailed::Instance();
}

}  // namespace ziz
