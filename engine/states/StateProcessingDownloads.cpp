#include "engine/states/StateProcessingDownloads.h"

#include "engine/Downloader.h"
#include "engine/SpaceCheck.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "engine/states/StateUpdatingAppliance.h"
#include "osh/DiskSpace.h"
#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "sequence/SafeFileName.h"

#include <deque>
#include <exception>
#include <functional>
#include <stdexcept>
#include <vector>

namespace ziz {

namespace {

using DownloadQueue = std::deque<std::reference_wrapper<InstallItem>>;

// Takes in an intact copy lying beside the program; false when the item must be fetched.
bool TakeInLocalCopy(Worker& worker, const InstallItem& item, const std::wstring& programDirectory)
{
    const std::wstring local = osh::AppendBackslash(programDirectory) + item.Filename;
    if (!worker.VerifyItemFile(item, local)) return false;
    if (!osh::FileCopy(local, item.LocalPath, false)) {
        osh::LogWarning(L"Unable to copy " + local + L" to " + item.LocalPath);
        return false;
    }
    return worker.VerifyItemFile(item, item.LocalPath);
}

// Where an intact copy came from; Failed when the item must be fetched.
ComponentAction FindIntactCopy(Worker& worker, const InstallItem& item, const std::wstring& programDirectory)
{
    // Looking for a copy is not the item's outcome: checks that fail here are forgotten.
    const RunReport before = worker.Report();
    ComponentAction found = ComponentAction::Failed;
    if (worker.VerifyItemFile(item, item.LocalPath)) {
        found = ComponentAction::Reused;
    } else if (TakeInLocalCopy(worker, item, programDirectory)) {
        found = ComponentAction::Copied;
    }
    worker.Report() = before;
    return found;
}

// Points every item at its place in the setup directory and queues those not intact there.
DownloadQueue QueueMissingItems(Worker& worker, InstallSequence& items, const std::wstring& setupDirectory,
                                const std::wstring& programDirectory, bool clean)
{
    DownloadQueue queue;
    for (InstallItem& item : items) {
        RequireSafeFileName(item);
        item.SetLocalPath(osh::AppendBackslash(setupDirectory) + item.Filename);
        const ComponentAction found =
            clean ? ComponentAction::Failed : FindIntactCopy(worker, item, programDirectory);
        if (found == ComponentAction::Failed) {
            queue.push_back(item);
        } else {
            worker.Report().Record(item.Filename, found);
        }
    }
    return queue;
}

// Fails the run before the first transfer when the setup-files drive cannot take what is
// still to fetch. A drive the system says nothing about is not held against the run.
void RequireSpaceFor(const DownloadQueue& queue, const std::wstring& setupDirectory)
{
    std::vector<const InstallItem*> items;
    for (const InstallItem& item : queue) items.push_back(&item);
    const std::uint64_t needed = BytesNeeded(BytesToFetch(items));
    if (needed == 0) return;
    std::uint64_t freeBytes = 0;
    try {
        freeBytes = osh::FreeBytesForCaller(setupDirectory);
    } catch (const win::exception& error) {
        osh::LogWarning(std::string("Free space not known, downloading without the check: ") + error.what());
        return;
    }
    const std::string shortage = SpaceShortage(osh::VolumeOf(setupDirectory), needed, freeBytes);
    if (!shortage.empty()) throw std::runtime_error(shortage);
}

WorkerState* SuccessorFor(Worker& worker)
{
    switch (worker.GetMode()) {
    case DOWNLOAD:
        worker.SetRestartRequired(false);
        worker.Notify(StatusSucceeded);
        return nullptr;
    case APPLIANCE: return StateUpdatingAppliance::Instance();
    case INSTALL:
    case UPDATE:
    case UNINSTALL: return StatePerformingUACCheck::Instance();
    default: osh::LogError("Invalid mode found in StateProcessingDownloads"); return StateFailed::Instance();
    }
}

}  // namespace

StateProcessingDownloads StateProcessingDownloads::instance_;

StateProcessingDownloads::StateProcessingDownloads() : WorkerState(L"ProcessingDownloads") {}

StateProcessingDownloads* StateProcessingDownloads::Instance() { return &instance_; }

WorkerState* StateProcessingDownloads::Exec(Worker& worker)
{
    try {
        const std::wstring setupDirectory = worker.RequirePath(evSetup);
        worker.RequirePath(evTempDir);
        const std::wstring programDirectory = worker.RequirePath(evInitial);
        InstallSequence items;
        worker.GetItems(items);
        const bool clean = worker.HasOption(L"clean");
        DownloadQueue queue = QueueMissingItems(worker, items, setupDirectory, programDirectory, clean);
        RequireSpaceFor(queue, setupDirectory);
        const int count = static_cast<int>(queue.size());
        for (int index = 0; index < count; ++index) {
            DownloadItem(worker, queue.front().get(), index, count, clean);
            queue.pop_front();
        }
        worker.SetItems(items);
        return SuccessorFor(worker);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
