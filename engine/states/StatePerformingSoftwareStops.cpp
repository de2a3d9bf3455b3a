#include "engine/states/StatePerformingSoftwareStops.h"

#include "engine/BackupJobWait.h"
#include "engine/ProcessWindows.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingInstalls.h"
#include "engine/states/StatePerformingUninstalls.h"
#include "osh/HttpTransfer.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/PersistentStore.h"

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

WorkerState* Successor(Worker& worker)
{
    switch (worker.GetMode()) {
    case INSTALL:
    case UPDATE: return StatePerformingInstalls::Instance();
    case UNINSTALL: return StatePerformingUninstalls::Instance();
    default: throw std::runtime_error("Invalid mode found in StatePerformingSoftwareStops");
    }
}

std::wstring InstalledDirectory(const wchar_t* name)
{
    std::wstring directory;
    if (!osh::GetWellKnownValue(name, directory)) directory.clear();
    return directory;
}

// The image path of a process of the product, or empty: one that cannot be opened or
// named is none of ours. Only a program inside an installed directory counts, so a
// sibling folder such as "Norlo 5 Beta" is left alone.
std::wstring ProductProcessImage(DWORD processId, const std::wstring& dir32, const std::wstring& dir64)
{
    try {
        const std::wstring image = ProcessImagePath(processId);
        return osh::IsPathInside(image, dir32) || osh::IsPathInside(image, dir64) ? image : std::wstring();
    } catch (const std::exception&) {
        return std::wstring();
    }
}

}  // namespace

StatePerformingSoftwareStops StatePerformingSoftwareStops::instance_;

StatePerformingSoftwareStops::StatePerformingSoftwareStops() : WorkerState(L"PerformingSoftwareStops") {}

StatePerformingSoftwareStops* StatePerformingSoftwareStops::Instance() { return &instance_; }

WorkerState* StatePerformingSoftwareStops::Exec(Worker& worker)
{
    try {
        WorkerState* next = Successor(worker);
        // Closing the product's programs in the middle of a backup or restore would lose it.
        if (!WaitForBackupJob(worker, osh::TransferCancelEvent())) return StateFailed::Instance();
        const std::wstring dir32 = InstalledDirectory(L"DirInstall32");
        const std::wstring dir64 = InstalledDirectory(L"DirInstall64");
        ForEachProcess([&](DWORD processId) {
            const std::wstring image = ProductProcessImage(processId, dir32, dir64);
            if (!image.empty()) CloseProcessWindows(processId, image);
        });
        return next;
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
