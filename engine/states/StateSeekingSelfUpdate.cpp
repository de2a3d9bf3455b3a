#include "engine/states/StateSeekingSelfUpdate.h"

#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateDownloadingBootstrapper.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateLoadingSequence.h"
#include "engine/VersionCompare.h"
#include "osh/Download.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "sequence/Blob.h"
#include "sequence/SafeFileName.h"
#include "sequence/SequenceLoader.h"

namespace ziz {

namespace {

// The published bootstrapper item; false (logged) on every failure to obtain or read it,
// which the run treats as "nothing newer".
bool FetchPublishedBootstrapper(Worker& worker, InstallItem& item)
{
    osh::LogInformation("Downloading XML file from web server");
    std::wstring tempDirectory;
    if (!worker.GetPath(tempDirectory, evTempDir)) {
        osh::LogError("Could not find temp directory");
        return false;
    }
    std::wstring url;
    if (!worker.GetUpdateUrl(url)) {
        osh::LogError("Could not find update URL");
        return false;
    }
    const std::wstring file = osh::AppendBackslash(tempDirectory) + L"update.xml";
    if (!osh::DownloadToFile(file, url)) {
        osh::LogError(L"Could not download " + url + L" to " + file);
        return false;
    }
    Blob blob;
    if (!ReadFileBlob(file, blob)) {
        osh::LogError(L"Could not load file " + file);
        return false;
    }
    if (!LoadBootstrapperItem(blob, item)) {
        osh::LogError(L"Could not load bootstrapper sequence from " + file);
        return false;
    }
    // The name comes from the network and is joined to a local directory later.
    if (!IsSafeFileName(item.Filename)) {
        osh::LogError(L"Bootstrapper item has an unsafe file name \"" + item.Filename + L"\", ignored");
        return false;
    }
    // A version we cannot place is never newer; say so rather than report "up to date" silently.
    if (!IsVersionText(item.Version)) {
        osh::LogError(L"Bootstrapper item has an unreadable version \"" + item.Version + L"\", ignored");
        return false;
    }
    return true;
}

WorkerState* ReportCheck(Worker& worker, const InstallItem& item, bool newer)
{
    if (newer) {
        worker.ConsiderCandidate(item.Url, item.Version);
        worker.Notify(StatusSucceeded);
    } else {
        worker.Notify(StatusUpToDate);
    }
    return nullptr;
}

}  // namespace

StateSeekingSelfUpdate StateSeekingSelfUpdate::instance_;

StateSeekingSelfUpdate::StateSeekingSelfUpdate() : WorkerState(L"SeekingSelfUpdate") {}

StateSeekingSelfUpdate* StateSeekingSelfUpdate::Instance() { return &instance_; }

WorkerState* StateSeekingSelfUpdate::Exec(Worker& worker)
{
    worker.Notify(StatusChecking);
    const InstallMode mode = worker.GetMode();
    if (mode < INSTALL || mode > CHECK) {
        osh::LogError("Invalid mode found in StateSeekingSelfUpdate");
        return StateFailed::Instance();
    }
    std::wstring bestPath;
    std::wstring bestVersion;
    worker.GetBestCandidate(bestPath, bestVersion);
    if (bestVersion.empty()) osh::LogWarning("Local 'best' version number unavailable");

    InstallItem item;
    const bool newer = FetchPublishedBootstrapper(worker, item) && worker.IsNewerThanBest(item.Version);
    InstallSequence list{item};

    switch (mode) {
    case DOWNLOAD:
        if (!newer) return StateLoadingSequence::Instance();
        list.front().Filename = L"Update.exe";
        worker.SetItems(list);
        return StateDownloadingBootstrapper::Instance();
    case CHECK: return ReportCheck(worker, item, newer);
    default:
        if (!newer) return StateCreatingCompleteSequence::Instance();
        worker.SetItems(list);
        return StateDownloadingBootstrapper::Instance();
    }
}

}  // namespace ziz
