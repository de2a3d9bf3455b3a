#include "engine/states/StateSeekingSelfUpdate.h"

#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateDownloadingBootstrapper.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateLoadingSequence.h"
#include "engine/VersionCompare.h"
#include "engine/trust/UpdateDocumentCheck.h"
#include "osh/Download.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Text.h"
#include "sequence/Blob.h"
#include "sequence/SafeFileName.h"
#include "sequence/SequenceLoader.h"

namespace ziz {

namespace {

// Logs the reason the check failed and keeps it for the run's result.
bool Fail(const std::wstring& reason, std::string& failure)
{
    osh::LogError(reason);
    failure = osh::Narrow(reason);
    return false;
}

// The published bootstrapper item; false, with the logged reason, on every failure to
// obtain or read it.
bool FetchPublishedBootstrapper(Worker& worker, InstallItem& item, std::string& failure)
{
    osh::LogInformation("Downloading XML file from web server");
    std::wstring tempDirectory;
    if (!worker.GetPath(tempDirectory, evTempDir)) return Fail(L"Could not find temp directory", failure);
    std::wstring url;
    if (!worker.GetUpdateUrl(url)) return Fail(L"Could not find update URL", failure);
    const std::wstring file = osh::AppendBackslash(tempDirectory) + L"update.xml";
    std::string transferFailure;
    if (!osh::DownloadToFile(file, url, transferFailure)) {
        Fail(L"Could not download " + url + L" to " + file, failure);
        // The cause in words (the address and why), not where the file would have gone.
        failure = transferFailure;
        return false;
    }
    Blob blob;
    if (!ReadFileBlob(file, blob)) return Fail(L"Could not load file " + file, failure);
    // Nothing of a document is read before it is known to be the publisher's.
    if (!CheckUpdateDocument(url, file, blob, worker.Report(), failure)) return false;
    if (!LoadBootstrapperItem(blob, item)) return Fail(L"Could not load bootstrapper sequence from " + file, failure);
    // The name comes from the network and is joined to a local directory later.
    if (!IsSafeFileName(item.Filename))
        return Fail(L"Bootstrapper item has an unsafe file name \"" + item.Filename + L"\", ignored", failure);
    // A version we cannot place is never newer; say so rather than report "up to date" silently.
    if (!IsVersionText(item.Version))
        return Fail(L"Bootstrapper item has an unreadable version \"" + item.Version + L"\", ignored", failure);
    return true;
}

// A refused document leaves nothing behind: the run goes on as if none had been published.
void CarryOnWithoutTheDocument(Worker& worker)
{
    const std::string& line = worker.Report().UpdateDocument();
    if (line.compare(0, 25, "Update document refused: ") != 0) return;
    osh::LogWarning("Carrying on with the local bootstrapper and its embedded sequence");
    worker.Report().SetUpdateDocument(line + "; carried on with the local bootstrapper and its embedded sequence");
}

// Only a document that was read and names nothing newer means "up to date"; a check that
// could not find out fails.
WorkerState* ReportCheck(Worker& worker, const InstallItem& item, bool fetched, bool newer,
                         const std::string& failure)
{
    if (!fetched) {
        worker.Report().SetFailureReason(failure);
        return StateFailed::Instance();
    }
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

    // Install, update and download carry on with the local bootstrapper when the check fails.
    InstallItem item;
    std::string failure;
    const bool fetched = FetchPublishedBootstrapper(worker, item, failure);
    const bool newer = fetched && worker.IsNewerThanBest(item.Version);
    if (!fetched && mode != CHECK)
        CarryOnWithoutTheDocument(worker);
    InstallSequence list{item};

    switch (mode) {
    case DOWNLOAD:
        if (!newer) return StateLoadingSequence::Instance();
        list.front().Filename = L"Update.exe";
        worker.SetItems(list);
        return StateDownloadingBootstrapper::Instance();
    case CHECK: return ReportCheck(worker, item, fetched, newer, failure);
    default:
        if (!newer) return StateCreatingCompleteSequence::Instance();
        worker.SetItems(list);
        return StateDownloadingBootstrapper::Instance();
    }
}

}  // namespace ziz
