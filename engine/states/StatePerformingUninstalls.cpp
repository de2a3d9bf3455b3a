#include "engine/states/StatePerformingUninstalls.h"

#include "engine/states/StateFailed.h"
#include "engine/states/StateFinishingUninstall.h"
#include "engine/states/StatePurgingFiles.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/Process.h"

#include <exception>
#include <map>

namespace ziz {

namespace {

// Runs one registered command; false when it could not be started (its entry stays).
bool RunUninstallCommand(const std::wstring& name, const std::wstring& command, const std::wstring& tempDir)
{
    osh::LogInformation(L"Executing " + command);
    if (!osh::StartProgram(command, tempDir, true)) {
        osh::LogError("Execution failed");
        return false;
    }
    osh::LogInformation("Execution succeeded");
    try {
        osh::DeletePersistentValue(L"Uninstall", name);
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
    return true;
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
    std::map<std::wstring, std::wstring> commands;
    worker.LoadUninstallList(commands);
    const int count = static_cast<int>(commands.size());
    int index = 0;
    bool failed = false;
    // Last registered first: later components may depend on earlier ones.
    for (auto entry = commands.rbegin(); entry != commands.rend(); ++entry) {
        worker.Notify(StatusUninstalling, index++, count);
        if (!RunUninstallCommand(entry->first, entry->second, tempDir)) failed = true;
    }
    if (failed) {
        worker.Notify(StatusFailed);
        return StateFailed::Instance();
    }
    if (worker.HasOption(L"purge")) return StatePurgingFiles::Instance();
    return StateFinishingUninstall::Instance();
}

}  // namespace ziz
