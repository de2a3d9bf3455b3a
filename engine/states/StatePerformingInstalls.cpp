#include "engine/states/StatePerformingInstalls.h"

#include "engine/states/StateFailed.h"
#include "engine/states/StateFinishingInstall.h"
#include "engine/states/StatePerformingUninstalls.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Process.h"
#include "osh/Text.h"
#include "sequence/CommandTemplate.h"

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

std::wstring InstallCommand(Worker& worker, const InstallItem& item, const std::wstring& commandTemplate,
                            const Directories& directories)
{
    const std::wstring logFile = osh::AppendBackslash(directories.temp) + item.Filename + L".log";
    return ExpandCommand(worker.Is64BitOs(), logFile, commandTemplate, item.LocalPath, directories.install32,
                         directories.install64, directories.temp);
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
    osh::RemoveFile(osh::AppendBackslash(directories.setup) + L"appliance.exe");

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
        const std::wstring command = InstallCommand(worker, item, commandTemplate, directories);
        osh::LogInformation(L"Executing " + command);
        if (!osh::StartProgram(command, directories.temp, true)) {
            osh::LogError("Execution failed");
            // What this run installed so far is rolled back by the uninstall commands.
            worker.SetItems(installed);
            return StatePerformingUninstalls::Instance();
        }
        osh::LogInformation("Execution complete");
        installed.push_back(item);
    }
    return StateFinishingInstall::Instance();
}

}  // namespace ziz
