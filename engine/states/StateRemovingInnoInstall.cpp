#include "engine/states/StateRemovingInnoInstall.h"

#include "engine/LegacyRemoval.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateRemovingBetaInstall.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/PinnedFolder.h"
#include "osh/Process.h"
#include "osh/Registry.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

namespace ziz {

namespace {

// Folder names the previous generation was installed under, tried in this order.
const wchar_t* const LegacyProductNames[] = {
    L"Norlo Tessel",         L"Norlo",
    L"Norlo Tessel Express", L"Norlo Tessel Quillon",
    L"Norlo Quillon",        L"Norlo-Tessel",
    L"Norlo-Tessel-Express", L"Norlo-Tessel-Quillon",
    L"Norlo-Quillon",        nullptr};

const wchar_t kLegacyKey[] = L"SOFTWARE\\Norlo\\OrganizationDefaults";

struct LegacyInstall {
    std::wstring productName;
    std::wstring installDir;
};

// The previous generation's registration, in this 32-bit process's own registry view.
LegacyInstall ReadLegacyRegistration()
{
    const osh::ScopedKey key = osh::OpenKey(HKEY_LOCAL_MACHINE, kLegacyKey, KEY_QUERY_VALUE | KEY_WOW64_32KEY);
    LegacyInstall legacy;
    if (!key || !osh::QueryString(key.get(), L"ProductName", legacy.productName))
        throw std::runtime_error("Unable to find INNO product name, INNO install not removed.");
    if (!osh::QueryString(key.get(), L"InstallDir", legacy.installDir))
        throw std::runtime_error("Unable to find INNO InstallDir, INNO install not removed.");
    return legacy;
}

bool ExistsAs(bool exists, const std::wstring& path)
{
    if (!exists) osh::LogInformation(Quote(path) + L" does not exist, old product not found.");
    return exists;
}

// The candidate folder holds the old product when it has its bin folder and uninstaller.
bool IsLegacyProductFolder(const std::wstring& candidate)
{
    osh::LogInformation("Testing if application dir exists");
    if (!ExistsAs(osh::IsDirectory(candidate), candidate)) return false;
    osh::LogInformation("Building bin directory path");
    const std::wstring bin = JoinPath(candidate, L"bin");
    osh::LogInformation("Testing if bin dir exists");
    if (!ExistsAs(osh::IsDirectory(bin), bin)) return false;
    osh::LogInformation("Building uninstallerPath");
    const std::wstring uninstaller = JoinPath(candidate, L"unins000.exe");
    osh::LogInformation("Testing if uninstallerPath exists");
    return ExistsAs(osh::IsFile(uninstaller), uninstaller);
}

std::wstring ToUpperAscii(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return text;
}

// The old product's RESET files would undo the migration of its settings. The old folder may
// have been handed to standard users: "bin" is opened without following a link, and every
// delete and rename is made relative to it.
void RemoveResetFiles(const std::wstring& bin)
{
    osh::LogInformation("Getting bin dir contents");
    const std::optional<osh::PinnedFolder> folder = FolderForRemoval(bin, L"RESET files in " + bin);
    if (!folder) return;
    const std::vector<osh::FolderEntry> entries = folder->List();
    osh::LogInformation("Beginning search of bin dir contents");
    for (const osh::FolderEntry& entry : entries) {
        // The files of the listing: what is neither a folder nor a link to one.
        if (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        const std::wstring& name = entry.name;
        osh::LogInformation(L"Converting " + name + L" to upper case.");
        const std::wstring upper = ToUpperAscii(name);
        osh::LogInformation(L"Looking for RESET in " + upper);
        if (upper.find(L"RESET") == std::wstring::npos) continue;
        osh::LogInformation(L"Found RESET, deleting file " + folder->PathOf(name));
        DeleteOrSetAside(*folder, name);
    }
}

}  // namespace

StateRemovingInnoInstall StateRemovingInnoInstall::instance_;

StateRemovingInnoInstall::StateRemovingInnoInstall() : WorkerState(L"RemovingInnoInstall") {}

StateRemovingInnoInstall* StateRemovingInnoInstall::Instance() { return &instance_; }

WorkerState* StateRemovingInnoInstall::Exec(Worker& worker)
{
    std::wstring dir32;
    if (!worker.GetPath(dir32, evInstall32)) {
        osh::LogWarning("Unable to get the setup path, INNO installs not removed.");
        return StateRemovingBetaInstall::Instance();
    }
    osh::LogInformation("Querying registry for INNO-based product installation");
    WorkerState* next = StateRemovingBetaInstall::Instance();
    try {
        const LegacyInstall legacy = ReadLegacyRegistration();
        osh::LogInformation("Seeking parent");
        const std::wstring parent = osh::GetFullPath(JoinPath(dir32, L".."));
        for (const wchar_t* const* name = LegacyProductNames; *name != nullptr; ++name) {
            const std::wstring candidate = JoinPath(parent, *name);
            if (!osh::SamePath(candidate, legacy.installDir)) continue;
            if (!IsLegacyProductFolder(candidate)) continue;
            return RemoveLegacyProduct(worker, legacy.productName, candidate, parent, next);
        }
    } catch (const std::exception& error) {
        if (next == StateFailed::Instance()) {
            osh::LogError(error.what());
            worker.Report().SetFailureReason(error.what());
        } else
            osh::LogWarning(error.what());
    }
    return next;
}

WorkerState* StateRemovingInnoInstall::RemoveLegacyProduct(Worker& worker, const std::wstring& oldProduct,
                                                           const std::wstring& folder, const std::wstring& parent,
                                                           WorkerState*& next)
{
    if (worker.HasOption(L"viewer")) {
        osh::LogError("Unable to install viewer on a Norlo3 System.");
        return StateFailed::Instance();
    }
    next = StateFailed::Instance();
    const std::wstring product = RequireWellKnownValue(L"product", "Unable to load product name.");
    const int removal = AskRemoval(worker, product, oldProduct);
    if (removal == IDNO) throw std::runtime_error("User chose to NOT remove the existing product.");
    if (removal != IDYES) throw std::runtime_error("User gave unexpected response to remove query.");
    osh::LogInformation("User chose to remove the existing product.");
    // Listing or running may still fail without harm: the old product is then left as it was.
    next = StateRemovingBetaInstall::Instance();
    RemoveResetFiles(JoinPath(folder, L"bin"));

    const std::wstring command = Quote(JoinPath(folder, L"unins000.exe")) + L" /NORESTART /SILENT";
    osh::LogInformation(L"Executing " + command);
    const DWORD exitCode = osh::RunAndWait(command, parent);
    if (exitCode != 0) {
        const std::wstring line = L"Uninstaller " + command + L" returned exit code " + std::to_wstring(exitCode);
        osh::LogError(line);
        worker.Report().SetFailureReason(osh::Narrow(line));
        return StateFailed::Instance();
    }
    next = StateFailed::Instance();
    const int restart = AskUser(427, 428, MB_ICONQUESTION | MB_OKCANCEL, product, oldProduct);
    if (restart == IDCANCEL) throw std::runtime_error("User chose to NOT reboot the system, install aborted.");
    if (restart != IDOK) throw std::runtime_error("User gave unexpected response to reboot query.");
    osh::LogInformation("User chose to reboot the system and continue.");

    const std::wstring copy = PlaceSetupCopy(worker);
    if (!copy.empty()) ScheduleAtNextLogon(product, Quote(copy));
    worker.SetRestartRequired(true);
    worker.SetRestartAgreed(true);
    worker.Notify(StatusSucceeded);
    return nullptr;
}

}  // namespace ziz
