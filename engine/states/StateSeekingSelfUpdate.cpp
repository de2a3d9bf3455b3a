#include "engine/states/StateSeekingSelfUpdate.h"

#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateDownloadingBootstrapper.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateLoadingSequence.h"
#include "engine/VersionCompare.h"
#include "engine/mirrors/AddressAttempts.h"
#include "engine/policy/PolicyGates.h"
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

// The update document from the first address (the value may list mirrors, separated by
// ";") that serves one its checks accept; the signature is fetched beside the address that
// served it. A refused document counts as a failed check: the next address is asked.
bool FetchCheckedDocument(Worker& worker, const std::wstring& url, const std::wstring& file, Blob& blob,
                          std::string& failure)
{
    bool refused = false;
    const AttemptOutcome outcome = TryAddresses(SplitAddressList(url), [&](const std::wstring& address,
                                                                           std::string& reason) {
        refused = false;
        AttemptOutcome result = AttemptOutcome::Accepted;
        if (!osh::DownloadToFile(file, address, reason)) {
            result = AttemptOutcome::TransferFailed;
        } else if (!ReadFileBlob(file, blob)) {
            reason = osh::Narrow(L"Could not load file " + file);
            osh::LogError(reason);
            result = AttemptOutcome::LocalFailure;
        } else if (!CheckUpdateDocument(address, file, blob, worker.Report(), reason)) {
            // Nothing of a document is read before it is known to be the publisher's.
            refused = true;
            result = AttemptOutcome::CheckFailed;
        }
        failure = reason;
        return result;
    });
    if (outcome == AttemptOutcome::Accepted) return true;
    // The cause in words (the address and why, or the refusal), not where the file would have gone.
    if (!refused) osh::LogError(L"Could not download " + url + L" to " + file);
    if (failure.empty()) failure = "No address for the update document";
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
    Blob blob;
    if (!FetchCheckedDocument(worker, url, file, blob, failure)) return false;
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
    const bool newer = fetched && worker.IsNewerThanBest(item.Version) && PolicyAllowsHandOver(item.Url, item.Version);
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
