#include "engine/states/StatePerformingInstalls.h"

#include "engine/HeldComponent.h"
#include "engine/InstallerLogs.h"
#include "engine/InstallerRun.h"
#include "engine/SetupFilesCache.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateFinishingInstall.h"
#include "engine/states/StatePerformingUninstalls.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Process.h"
#include "osh/Text.h"
#include "sequence/CommandTemplate.h"

#include <exception>
#include <optional>
#include <string>

namespace ziz {

namespace {

struct Directories {
    std::wstring temp;
    std::wstring install32;
    std::wstring install64;  // stays empty on a 32-bit system
    std::wstring setup;
};

const wchar_t* InstallTypeName(InstallType type)
{
    switch (type) {
    case InstallTypeViewer: return L"viewer";
    case InstallTypeServices: return L"services";
    default: return L"INVALID";
    }
}

bool BelongsToInstallType(const InstallItem& item, const std::wstring& typeName)
{
    std::wstring value;
    return item.GetProperty(typeName, value) && osh::EqualsIgnoreAsciiCase(value, L"yes");
}

bool ResolveDirectories(Worker& worker, Directories& directories)
{
    if (!worker.GetPath(directories.temp, evTempDir) || !worker.GetPath(directories.install32, evInstall32) ||
        !worker.GetPath(directories.setup, evSetup)) {
        osh::LogError("Unable to discover directory paths");
        return false;
    }
    if (!worker.Is64BitOs()) return true;
    osh::LogInformation("Detected 64-bit operating system");
    if (!worker.GetPath(directories.install64, evInstall64)) {
        osh::LogError("Unable to discover 64-bit directory paths");
        return false;
    }
    return true;
}

std::wstring InstallerLogFile(const InstallItem& item, const Directories& directories)
{
    return osh::AppendBackslash(directories.temp) + item.Filename + L".log";
}

// One line naming the component, its command and exit code, and the installer's own log
// (as kept in the log folder) when its command wrote one.
std::string InstallerFailureLine(const InstallItem& item, const std::wstring& command, unsigned long exitCode,
                                 const std::wstring& keptLog)
{
    std::wstring line = L"Installing " + item.Filename + L" failed: " + command + L" returned exit code " +
                        std::to_wstring(exitCode);
    if (!keptLog.empty()) line += L"; see the installer's log " + keptLog;
    return osh::Narrow(line);
}

// The installer's own log outlives the run's temporary folder.
std::wstring KeepLogOf(Worker& worker, const InstallItem& item, const std::wstring& commandTemplate,
                       const Directories& directories)
{
    if (commandTemplate.find(L"[LOG]") == std::wstring::npos) return std::wstring();
    const std::wstring kept = KeepInstallerLog(worker, item.Filename, InstallerLogFile(item, directories));
    if (!kept.empty()) worker.Report().RecordLog(item.Filename, kept);
    return kept;
}

void RecordFailure(Worker& worker, const std::wstring& file, const std::string& line)
{
    osh::LogError(line);
    worker.Report().Record(file, ComponentAction::Failed);
    worker.Report().SetFailureReason(line);
}

// A command that names the component's file opens it: that file is held, and checked on
// the held handle, until the command has ended.
bool HoldCheckedComponent(Worker& worker, const InstallItem& item, const std::wstring& commandTemplate,
                          std::optional<HeldComponent>& held)
{
    if (commandTemplate.find(L"[APP]") == std::wstring::npos) return true;
    held.emplace(item.LocalPath);
    if (held->Verify(worker, item)) return true;
    RecordFailure(worker, item.Filename,
                  "Installing " + osh::Narrow(item.Filename) + " failed: its file no longer passes its check");
    return false;
}

// Runs the item's command; true when it succeeded (perhaps needing a restart).
bool InstallComponent(Worker& worker, const InstallItem& item, const std::wstring& commandTemplate,
                      const Directories& directories)
{
    std::optional<HeldComponent> held;
    if (!HoldCheckedComponent(worker, item, commandTemplate, held)) return false;
    const std::wstring command =
        ExpandCommand(worker.Is64BitOs(), InstallerLogFile(item, directories), commandTemplate, item.LocalPath,
                      directories.install32, directories.install64, directories.temp);
    osh::LogInformation(L"Executing " + command);
    InstallerOutcome outcome;
    try {
        outcome = RunInstaller(command, directories.temp);
    } catch (const std::exception& error) {
        osh::LogError("Execution failed");
        RecordFailure(worker, item.Filename,
                      "Installing " + osh::Narrow(item.Filename) + " failed: " + OneLine(error.what()));
        return false;
    }
    worker.Report().RecordExitCode(item.Filename, static_cast<long>(outcome.exitCode));
    const std::wstring keptLog = KeepLogOf(worker, item, commandTemplate, directories);
    if (!IsInstallerSuccess(outcome.result)) {
        RecordFailure(worker, item.Filename, InstallerFailureLine(item, command, outcome.exitCode, keptLog));
        return false;
    }
    if (outcome.result == InstallerResult::SucceededRestartRequired) {
        osh::LogInformation(L"Installing " + item.Filename + L" needs a restart to complete (exit code " +
                            std::to_wstring(outcome.exitCode) + L")");
        worker.SetRestartRequired(true);
    }
    osh::LogInformation("Execution complete");
    worker.Report().Record(item.Filename, ComponentAction::Installed);
    return true;
}

}  // namespace

StatePerformingInstalls StatePerformingInstalls::instance_;

StatePerformingInstalls::StatePerformingInstalls() : WorkerState(L"PerformingInstalls") {}

StatePerformingInstalls* StatePerformingInstalls::Instance() { return &instance_; }

WorkerState* StatePerformingInstalls::Exec(Worker& worker)
{
    Directories directories;
    if (!ResolveDirectories(worker, directories)) return StateFailed::Instance();
    // A stale appliance program from an earlier run is not part of an install.
    RemoveFromSetupFiles(directories.setup, L"appliance.exe");

    // What was registered before this run's installs stays when they fail.
    UninstallEntries registeredBefore;
    worker.LoadUninstallList(registeredBefore);

    InstallSequence items;
    worker.GetItems(items);
    const std::wstring typeName = InstallTypeName(worker.GetInstallType());
    InstallSequence installed;
    const int count = static_cast<int>(items.size());
    int index = 0;
    for (const InstallItem& item : items) {
        worker.Notify(StatusInstalling, index++, count);
        if (!BelongsToInstallType(item, typeName)) {
            osh::LogInformation(item.Filename + L" ignored for install type " + typeName);
            continue;
        }
        std::wstring commandTemplate;
        if (!item.GetProperty(L"installCmd", commandTemplate)) continue;
        if (!InstallComponent(worker, item, commandTemplate, directories)) {
            // What this run installed so far is rolled back by its uninstall commands.
            UninstallEntries registeredNow;
            worker.LoadUninstallList(registeredNow);
            worker.SetRollBack(RollBackPlan(worker.GetMode(), registeredBefore, registeredNow));
            worker.SetItems(installed);
            return StatePerformingUninstalls::Instance();
        }
        installed.push_back(item);
    }
    return StateFinishingInstall::Instance();
}

}  // namespace ziz
