#include "engine/states/StatePerformingUACCheck.h"

#include "engine/HandOver.h"
#include "engine/PendingRestart.h"
#include "engine/RunLock.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingSoftwareStops.h"
#include "engine/states/StateRemovingInnoInstall.h"
#include "osh/ArgumentQuoting.h"
#include "osh/Elevation.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Process.h"

#include <windows.h>

#include <vector>

namespace ziz {

namespace {

struct RelaunchPaths {
    std::wstring tempDirectory;
    std::wstring programDirectory;
    std::wstring setupDirectory;
    std::wstring programName;
};

bool DiscoverPaths(Worker& worker, RelaunchPaths& paths)
{
    std::wstring setupName;
    return worker.GetPath(paths.tempDirectory, evTempDir) && worker.GetPath(paths.programDirectory, evInitial) &&
           worker.GetPath(paths.setupDirectory, evSetup) && worker.GetFileName(paths.programName, evInitial) &&
           worker.GetFileName(setupName, evSetup);
}

// The entries after the program path, each arriving in the elevated run as it was given.
std::wstring RelaunchParameters(Worker& worker)
{
    // The elevated copy works under this run's lock.
    const std::vector<std::wstring> arguments = WithOwnLockClaim(HandOverArguments(worker));
    if (arguments.empty()) return std::wstring();
    return osh::JoinArguments(std::vector<std::wstring>(arguments.begin() + 1, arguments.end()));
}

// Starts the program again through the consent prompt, waits for it and ends this run
// with its exit code; a refused start ends the run as a failure.
WorkerState* RelaunchElevated(Worker& worker)
{
    RelaunchPaths paths;
    if (!DiscoverPaths(worker, paths)) {
        osh::LogError("Unable to discover directory paths");
        return StateFailed::Instance();
    }
    std::wstring program = osh::AppendBackslash(paths.programDirectory) + paths.programName;
    // The elevated copy replaces the files of the setup directory; it must not run from there.
    if (osh::SamePath(paths.programDirectory, paths.setupDirectory)) {
        const std::wstring copy = osh::AppendBackslash(paths.tempDirectory) + paths.programName;
        if (!osh::FileCopy(program, copy, true)) {
            osh::LogError("Unable to copy app to temp directory");
            return StateFailed::Instance();
        }
        program = copy;
    }
    const std::wstring parameters = RelaunchParameters(worker);
    osh::ScopedHandle process;
    if (!osh::RunElevated(nullptr, program.c_str(), parameters.c_str(), paths.tempDirectory.c_str(), &process)) {
        osh::LogError(L"Could not start " + program + L" elevated");
        worker.Notify(StatusFailed);
        return nullptr;
    }
    if (!process) {
        // The shell started something without telling which process: its outcome would be
        // lost, so the run cannot report success.
        osh::LogError(L"Started " + program + L" elevated, but the system gave no process to wait for");
        worker.Notify(StatusFailed);
        return nullptr;
    }
    worker.SetRestartRequired(false);
    AwaitHandedOver(worker, process.get(), program, true);
    return nullptr;
}

}  // namespace

StatePerformingUACCheck StatePerformingUACCheck::instance_;

StatePerformingUACCheck::StatePerformingUACCheck() : WorkerState(L"PerformingUACCheck") {}

StatePerformingUACCheck* StatePerformingUACCheck::Instance() { return &instance_; }

WorkerState* StatePerformingUACCheck::Exec(Worker& worker)
{
    WorkerState* elevatedSuccessor = nullptr;
    switch (worker.GetMode()) {
    case INSTALL:
    case UPDATE: elevatedSuccessor = StateRemovingInnoInstall::Instance(); break;
    case UNINSTALL: elevatedSuccessor = StatePerformingSoftwareStops::Instance(); break;
    default: osh::LogError("Invalid mode found in StatePerformingUACCheck"); return StateFailed::Instance();
    }
    // Elevated, before the first change: a restart Windows already waits for is said first.
    if (osh::QueryElevation() == 0) return PassPendingRestart(worker) ? elevatedSuccessor : StateFailed::Instance();
    return RelaunchElevated(worker);
}

}  // namespace ziz
