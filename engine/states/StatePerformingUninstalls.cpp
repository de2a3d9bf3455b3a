#include "engine/states/StatePerformingUninstalls.h"

#include "engine/InstallerRun.h"
#include "engine/UninstallPlan.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateFinishingUninstall.h"
#include "engine/states/StatePurgingFiles.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <string>
#include <vector>

namespace ziz {

namespace {

// The uninstalls run after a failed install or update undo what it may undo; the run stays a failure.
bool IsRollBack(InstallMode mode) { return mode == INSTALL || mode == UPDATE; }

void RecordFailure(Worker& worker, const std::wstring& command, const std::string& line)
{
    osh::LogError(line);
    worker.Report().Record(command, ComponentAction::Failed);
    worker.Report().SetFailureReason(line);
}

// An uninstaller may take its own entry with it; that is no reason for a warning.
void DeleteUninstallEntry(const std::wstring& name)
{
    try {
        osh::DeletePersistentValue(L"Uninstall", name);
    } catch (const win::exception& error) {
        if (error.code() == ERROR_FILE_NOT_FOUND)
            osh::LogInformation(L"Uninstall entry " + name + L" was already removed");
        else
            osh::LogWarning(error.what());
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
}

// Runs one registered command; false when it could not be started or failed (its entry
// stays, so a later run can try again).
bool RunUninstallCommand(Worker& worker, const std::wstring& name, const std::wstring& command,
                         const std::wstring& tempDir)
{
    osh::LogInformation(L"Executing " + command);
    InstallerOutcome outcome;
    try {
        outcome = RunInstaller(command, tempDir);
    } catch (const std::exception& error) {
        osh::LogError("Execution failed");
        RecordFailure(worker, command, "Uninstalling with " + osh::Narrow(command) + " failed: " + OneLine(error.what()));
        return false;
    }
    worker.Report().RecordExitCode(command, static_cast<long>(outcome.exitCode));
    if (!IsInstallerSuccess(outcome.result)) {
        RecordFailure(worker, command,
                      "Uninstalling with " + osh::Narrow(command) + " failed: exit code " +
                          std::to_string(outcome.exitCode) + "; its entry " + osh::Narrow(name) + " is kept");
        return false;
    }
    if (outcome.result == InstallerResult::SucceededRestartRequired) {
        osh::LogInformation("Uninstall needs a restart to complete (exit code " + std::to_string(outcome.exitCode) +
                            ")");
        worker.SetRestartRequired(true);
    }
    osh::LogInformation("Execution succeeded");
    worker.Report().Record(command, ComponentAction::Uninstalled);
    DeleteUninstallEntry(name);
    return true;
}

std::vector<UninstallEntry> RegisteredCommands(Worker& worker)
{
    UninstallEntries registered;
    worker.LoadUninstallList(registered);
    return UninstallOrder(registered);
}

}  // namespace

StatePerformingUninstalls StatePerformingUninstalls::instance_;

StatePerformingUninstalls::StatePerformingUninstalls() : WorkerState(L"PerformingUninstalls") {}

StatePerformingUninstalls* StatePerformingUninstalls::Instance() { return &instance_; }

WorkerState* StatePerformingUninstalls::Exec(Worker& worker)
{
    std::wstring tempDir;
    if (!worker.GetPath(tempDir, evTempDir)) {
        osh::LogError("Unable to discover directory paths");
        return StateFailed::Instance();
    }
    const bool rollBack = IsRollBack(worker.GetMode());
    const std::vector<UninstallEntry> commands = rollBack ? worker.GetRollBack() : RegisteredCommands(worker);
    if (rollBack) osh::LogInformation(RollBackLine(worker.GetMode(), commands));
    const int count = static_cast<int>(commands.size());
    int index = 0;
    bool failed = false;
    // Last registered first: later components may depend on earlier ones.
    for (const UninstallEntry& entry : commands) {
        worker.Notify(StatusUninstalling, index++, count);
        if (!RunUninstallCommand(worker, entry.name, entry.command, tempDir)) failed = true;
    }
    if (failed) {
        worker.Notify(StatusFailed);
        return StateFailed::Instance();
    }
    if (rollBack) {
        if (!commands.empty()) osh::LogInformation("Roll-back complete");
        return StateFailed::Instance();
    }
    if (worker.HasOption(L"purge")) return StatePurgingFiles::Instance();
    return StateFinishingUninstall::Instance();
}

}  // namespace ziz
