#include "engine/states/StateRemovingBetaInstall.h"

#include "engine/LegacyRemoval.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingSoftwareStops.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Process.h"
#include "osh/Registry.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

const wchar_t kBetaFolder[] = L"Norlo 5.0";
const wchar_t kBetaProduct[] = L"Norlo 5 Beta";

bool Exists(bool exists, const std::wstring& path)
{
    if (!exists) osh::LogInformation(Quote(path) + L" does not exist, beta product not found.");
    return exists;
}

// The beta's dashboard keeps its files open; it is asked to quit and then removed.
void RetireDashboard(const std::wstring& betaDir, const std::wstring& tempDir)
{
    const std::wstring dashboard = JoinPath(betaDir, L"Tarnview.exe");
    if (!osh::IsFile(dashboard)) return;
    const std::wstring command = Quote(dashboard) + L" --quit";
    osh::LogInformation(L"Executing " + command);
    osh::RunAndWait(command, tempDir);
    DeleteOrSetAside(dashboard);
}

// The beta's data folder beside the product's data folder, when there is one.
std::wstring MigrationFolder(Worker& worker)
{
    const std::wstring folder =
        osh::GetFullPath(JoinPath(JoinPath(JoinPath(worker.RequirePath(evSetup), L".."), L".."), kBetaFolder));
    return osh::IsDirectory(folder) ? folder : std::wstring();
}

// " /clid=" + the beta's client id, or nothing; a missing id is logged only.
std::wstring ClientIdArgument(const std::wstring& company)
{
    try {
        const std::wstring key = L"SOFTWARE\\" + company + L"\\" + kBetaFolder + L"\\OrganizationDefaults";
        osh::LogInformation(L"Checking " + key + L" for existing CLID");
        const osh::ScopedKey opened = osh::OpenKey(HKEY_LOCAL_MACHINE, key, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
        std::wstring clid;
        // An empty id would start the continuation with a switch that means nothing.
        if (!opened || !osh::QueryString(opened.get(), L"CLID", clid) || clid.empty())
            throw std::runtime_error("Unable to find CLID in registry.");
        return L" /clid=" + clid;
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
        return std::wstring();
    }
}

}  // namespace

StateRemovingBetaInstall StateRemovingBetaInstall::instance_;

StateRemovingBetaInstall::StateRemovingBetaInstall() : WorkerState(L"RemovingBetaInstall") {}

StateRemovingBetaInstall* StateRemovingBetaInstall::Instance() { return &instance_; }

WorkerState* StateRemovingBetaInstall::Exec(Worker& worker)
{
    std::wstring installDir;
    if (!worker.GetPath(installDir, evInstall)) {
        osh::LogWarning("Unable to get the install path, beta installs not removed.");
        return StatePerformingSoftwareStops::Instance();
    }
    try {
        const std::wstring betaDir = osh::GetFullPath(JoinPath(JoinPath(installDir, L".."), kBetaFolder));
        if (!Exists(osh::IsDirectory(betaDir), betaDir)) return StatePerformingSoftwareStops::Instance();
        const std::wstring uninstaller = JoinPath(betaDir, L"uninstall.exe");
        if (!Exists(osh::IsFile(uninstaller), uninstaller)) return StatePerformingSoftwareStops::Instance();
        return RemoveBeta(worker, betaDir, uninstaller);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        worker.Report().SetFailureReason(error.what());
        return StateFailed::Instance();
    }
}

WorkerState* StateRemovingBetaInstall::RemoveBeta(Worker& worker, const std::wstring& betaDir,
                                                  const std::wstring& uninstaller)
{
    const std::wstring company = RequireWellKnownValue(L"company", "Unable to load company name.");
    const std::wstring product = RequireWellKnownValue(L"product", "Unable to load product name.");
    const int removal = AskRemoval(worker, product, kBetaProduct);
    if (removal == IDNO) throw std::runtime_error("User chose to NOT remove the beta product.");
    if (removal != IDYES) throw std::runtime_error("User gave unexpected response to remove query.");
    osh::LogInformation("User chose to remove the beta product.");

    const std::wstring tempDir = worker.RequirePath(evTempDir);
    RetireDashboard(betaDir, tempDir);
    // Quoted: the folder lies under Program Files and its name holds blanks, and this
    // process is elevated; unquoted, a planted "C:\Program.exe" would run instead.
    const std::wstring command = Quote(uninstaller);
    osh::LogInformation(L"Executing " + command);
    const DWORD exitCode = osh::RunAndWait(command, tempDir);
    if (exitCode != 0) {
        const std::wstring line = L"Uninstaller " + command + L" returned exit code " + std::to_wstring(exitCode);
        osh::LogError(line);
        worker.Report().SetFailureReason(osh::Narrow(line));
        return StateFailed::Instance();
    }

    const std::wstring migrateDir = MigrationFolder(worker);
    const std::wstring copy = PlaceSetupCopy(worker);
    std::wstring runOnce = Quote(copy);
    if (!migrateDir.empty()) runOnce += L" /migrate=" + Quote(migrateDir);
    runOnce += ClientIdArgument(company);
    if (!copy.empty()) ScheduleAtNextLogon(product, runOnce);
    worker.SetRestartRequired(false);
    worker.Notify(StatusSucceeded);
    return nullptr;
}

}  // namespace ziz
