#include "engine/states/StateProcessingDownloads.h"

#include "engine/Downloader.h"
#include "engine/ElevatedWorkFolder.h"
#include "engine/SetupFilesCache.h"
#include "engine/SpaceCheck.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "engine/states/StateUpdatingAppliance.h"
#include "osh/DiskSpace.h"
#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "sequence/SafeFileName.h"

#include <deque>
#include <exception>
#include <functional>
#include <stdexcept>
#include <vector>

namespace ziz {

namespace {

using DownloadQueue = std::deque<std::reference_wrapper<InstallItem>>;

struct Folders {
    std::wstring setup;
    std::wstring program;
    // Where the run keeps the components it uses: the setup files, or for an elevated run
    // its admin-only folder, since what it runs must lie where no standard user can plant
    // anything beside it or change it.
    std::wstring components;
};

std::wstring ComponentFolderFor(const std::wstring& setupDirectory)
{
    if (!IsElevatedRun()) return setupDirectory;
    const std::wstring folder = ElevatedComponentFolder();
    if (folder.empty()) throw std::runtime_error("No admin-only folder for the components");
    return folder;
}

std::wstring Join(const std::wstring& directory, const std::wstring& name)
{
    return osh::AppendBackslash(directory) + name;
}

// Takes an intact copy of source into the item's local path, checking the bytes copied;
// false when the item must be fetched.
bool TakeIntactCopy(Worker& worker, const InstallItem& item, const std::wstring& source)
{
    if (!worker.VerifyItemFile(item, source)) return false;
    if (osh::SamePath(source, item.LocalPath)) return true;
    if (!osh::FileCopy(source, item.LocalPath, false)) {
        osh::LogWarning(L"Unable to copy " + source + L" to " + item.LocalPath);
        return false;
    }
    return worker.VerifyItemFile(item, item.LocalPath);
}

// Where an intact copy came from; Failed when the item must be fetched. One found beside the
// program is also left in the setup files for later runs.
ComponentAction FindIntactCopy(Worker& worker, const InstallItem& item, const Folders& folders)
{
    // Looking for a copy is not the item's outcome: checks that fail here are forgotten.
    const RunReport before = worker.Report();
    ComponentAction found = ComponentAction::Failed;
    if (TakeIntactCopy(worker, item, Join(folders.setup, item.Filename))) {
        found = ComponentAction::Reused;
    } else if (TakeIntactCopy(worker, item, Join(folders.program, item.Filename))) {
        found = ComponentAction::Copied;
        CopyIntoSetupFiles(folders.setup, item.LocalPath, item.Filename);
    }
    worker.Report() = before;
    return found;
}

// Points every item at its place among the run's components and queues those not intact.
DownloadQueue QueueMissingItems(Worker& worker, InstallSequence& items, const Folders& folders, bool clean)
{
    DownloadQueue queue;
    for (InstallItem& item : items) {
        RequireSafeFileName(item);
        item.SetLocalPath(Join(folders.components, item.Filename));
        const ComponentAction found = clean ? ComponentAction::Failed : FindIntactCopy(worker, item, folders);
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

// The copy a download will replace in the setup files must be replaceable, or the run stops
// before the transfer.
void RequireCacheReplaceable(Worker& worker, const InstallItem& item, const std::wstring& setupDirectory)
{
    try {
        RequireReplaceableInSetupFiles(setupDirectory, item.Filename);
    } catch (const std::exception&) {
        worker.Report().RecordFailedCheck(item.Filename, "download");
        throw;
    }
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
        Folders folders;
        folders.setup = worker.RequirePath(evSetup);
        worker.RequirePath(evTempDir);
        folders.program = worker.RequirePath(evInitial);
        folders.components = ComponentFolderFor(folders.setup);
        InstallSequence items;
        worker.GetItems(items);
        const bool clean = worker.HasOption(L"clean");
        DownloadQueue queue = QueueMissingItems(worker, items, folders, clean);
        // What is fetched lands among the components and is then cached in the setup files.
        RequireSpaceFor(queue, folders.setup);
        if (!osh::SamePath(osh::VolumeOf(folders.components), osh::VolumeOf(folders.setup)))
            RequireSpaceFor(queue, folders.components);
        const int count = static_cast<int>(queue.size());
        for (int index = 0; index < count; ++index) {
            const InstallItem& item = queue.front().get();
            if (folders.components != folders.setup) RequireCacheReplaceable(worker, item, folders.setup);
            DownloadItem(worker, item, index, count, clean);
            // Later runs, and standard users' runs, find it in the shared cache.
            CopyIntoSetupFiles(folders.setup, item.LocalPath, item.Filename);
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
