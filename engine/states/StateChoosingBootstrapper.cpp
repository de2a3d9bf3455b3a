#include "engine/states/StateChoosingBootstrapper.h"

#include "engine/HandOver.h"
#include "engine/RunLock.h"
#include "engine/policy/PolicyGates.h"
#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateLoadingSequence.h"
#include "osh/ArgumentQuoting.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Process.h"

#include <windows.h>

#include <vector>

namespace ziz {

namespace {

void ConsiderDownloadedItems(Worker& worker)
{
    InstallSequence items;
    worker.GetItems(items);
    for (const InstallItem& item : items) {
        std::wstring version;
        if (!item.LocalPath.empty() && worker.GetFileVersion(version, item.LocalPath) &&
            worker.IsNewerThanBest(version) && PolicyAllowsHandOver(item.LocalPath, version)) {
            worker.ConsiderCandidate(item.LocalPath, version);
        }
    }
}

// Hand over only to another program: when the running program is itself the best one,
// starting it would start the same decision again, and again.
bool ShouldHandOver(Worker& worker, const std::wstring& bestPath)
{
    std::wstring programName;
    std::wstring programDirectory;
    std::wstring tempDirectory;
    if (!worker.GetFileName(programName, evInitial) || !worker.GetPath(programDirectory, evInitial) ||
        !worker.GetPath(tempDirectory, evTempDir)) {
        return false;
    }
    return !osh::SamePath(bestPath, osh::AppendBackslash(programDirectory) + programName);
}

// The best bootstrapper in the program's place, every argument after it as it was given.
std::wstring HandOverCommandLine(Worker& worker, const std::wstring& bestPath)
{
    // The newer bootstrapper works under this run's lock.
    std::vector<std::wstring> arguments = WithOwnLockClaim(HandOverArguments(worker));
    if (!arguments.empty()) arguments.erase(arguments.begin());
    std::wstring commandLine = osh::QuoteProgramPath(bestPath);
    if (!arguments.empty()) commandLine += L" " + osh::JoinArguments(arguments);
    return commandLine;
}

// The file started is the file checked: held, denying writers, from a last check until its
// process exists.
bool StartCheckedBootstrapper(Worker& worker, const std::wstring& bestPath, osh::ScopedHandle& process)
{
    const HeldComponent held(bestPath);
    return RecheckHeldBootstrapper(worker, held) && osh::StartProcess(HandOverCommandLine(worker, bestPath), L"", process);
}

}  // namespace

StateChoosingBootstrapper StateChoosingBootstrapper::instance_;

StateChoosingBootstrapper::StateChoosingBootstrapper() : WorkerState(L"ChoosingBootstrapper") {}

StateChoosingBootstrapper* StateChoosingBootstrapper::Instance() { return &instance_; }

WorkerState* StateChoosingBootstrapper::Exec(Worker& worker)
{
    ConsiderDownloadedItems(worker);
    std::wstring bestPath;
    std::wstring bestVersion;
    worker.GetBestCandidate(bestPath, bestVersion);
    if (ShouldHandOver(worker, bestPath)) {
        osh::ScopedHandle process;
        if (StartCheckedBootstrapper(worker, bestPath, process)) {
            worker.SetRestartRequired(false);
            AwaitHandedOver(worker, process.get(), bestPath);
            return nullptr;
        }
        osh::LogWarning("Could not launch, continuing.");
    }
    const InstallMode mode = worker.GetMode();
    if (mode == INSTALL || mode == UPDATE) return StateCreatingCompleteSequence::Instance();
    return StateLoadingSequence::Instance();
}

}  // namespace ziz
