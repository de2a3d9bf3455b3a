#include "engine/states/StateFinishingInstall.h"

#include "engine/SetupFilesCache.h"
#include "engine/policy/CacheLimit.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/PersistentStore.h"
#include "osh/Process.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <string>

namespace ziz {

namespace {

const wchar_t kSetupGroup[] = L"Setup";

// A store failure is logged and the next value is still written.
void Record(const wchar_t* name, const std::wstring& value)
{
    try {
        osh::SetPersistentValue(kSetupGroup, name, value);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
    }
}

void RecordUpdateUrl(Worker& worker)
{
    std::wstring url;
    if (worker.GetUpdateUrl(url)) Record(L"xmlurl", url);
}

// The copy in the setup-files directory is what later runs (uninstall, run-once) start.
// The caller waiting for this run may have been started from that very file. The folder is
// one standard users can change: the copy is made relative to the folder's own handle, and
// nothing is scheduled for a restart, when a path could lead elsewhere.
void PlaceBootstrapper(const std::wstring& setupDir, const std::wstring& source, const std::wstring& setupName)
{
    const std::wstring target = osh::AppendBackslash(setupDir) + setupName;
    if (osh::SamePath(source, target)) return;
    if (CopyIntoSetupFiles(setupDir, source, setupName)) {
        osh::LogInformation(source + L" was copied to " + target);
        return;
    }
    osh::LogWarning("File not copied, later runs start the earlier " + osh::Narrow(target));
}

const wchar_t* InstallTypeText(InstallType type)
{
    switch (type) {
    case InstallTypeViewer: return L"viewer";
    case InstallTypeServices: return L"services";
    default: return L"unknown";
    }
}

void RecordBootstrapper(Worker& worker)
{
    std::wstring initialDir, setupDir, initialName, setupName;
    // Each failing look-up logs its own line.
    const bool found = worker.GetPath(initialDir, evInitial) && worker.GetPath(setupDir, evSetup) &&
                       worker.GetFileName(initialName, evInitial) && worker.GetFileName(setupName, evSetup);
    if (!found) return;
    const std::wstring source = osh::AppendBackslash(initialDir) + initialName;
    PlaceBootstrapper(setupDir, source, setupName);
    std::wstring version;
    if (!source.empty() && worker.GetFileVersion(version, source)) Record(L"LastVer", version);
    Record(L"LastFile", initialName);
    Record(L"LastInstallType", InstallTypeText(worker.GetInstallType()));
}

void LaunchNamespaceExtension(Worker& worker)
{
    try {
        const std::wstring installDir = worker.RequirePath(evInstall);
        osh::RunAndWait(L"\"" + osh::AppendBackslash(installDir) + L"OpenSkiv.exe\"", installDir);
        osh::LogInformation("Launched namespace extension.");
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        osh::LogError("Could not launch openSkiv.");
    }
}

}  // namespace

StateFinishingInstall StateFinishingInstall::instance_;

StateFinishingInstall::StateFinishingInstall() : WorkerState(L"FinishingInstall") {}

StateFinishingInstall* StateFinishingInstall::Instance() { return &instance_; }

WorkerState* StateFinishingInstall::Exec(Worker& worker)
{
    worker.Notify(StatusCompleting);
    RecordUpdateUrl(worker);
    RecordBootstrapper(worker);
    ApplyCacheLimit(worker);
    if (worker.HasOption(L"viewer")) LaunchNamespaceExtension(worker);
    worker.Notify(StatusSucceeded);
    return nullptr;
}

}  // namespace ziz
