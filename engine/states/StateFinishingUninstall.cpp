#include "engine/states/StateFinishingUninstall.h"

#include "engine/PersistentGroup.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/ReparsePoint.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <map>
#include <string>

namespace ziz {

namespace {

const wchar_t kRemnantsGroup[] = L"Install-Files";

// True when a folder on the way is a link (logged): the name would then reach a file
// elsewhere. A link as the last part is deleted as the link itself.
bool ReachedThroughLink(const std::wstring& path)
{
    std::wstring link;
    try {
        if (!osh::PathCrossesReparsePoint(path + L"\\..", &link)) return false;
    } catch (const std::exception&) {
        return false;  // a name the system cannot resolve fails its delete with the reason
    }
    osh::LogWarning(L"DeleteInstallRemnants: file \"" + path + L"\" left alone: \"" + link + L"\" is a link");
    return true;
}

// A file already gone is what we want; anything else is logged and left behind.
void DeleteRemnant(const std::wstring& path)
{
    if (ReachedThroughLink(path)) return;
    if (DeleteFileW(path.c_str())) return;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
    // The system's message alone: the line already says what failed.
    osh::LogWarning(L"DeleteInstallRemnants: file \"" + path + L"\" could not be deleted: " +
                    osh::Widen(win::exception(error, "").what()));
}

// The entries are removed in any case, so a later uninstall does not try them again.
void DeleteInstallRemnants()
{
    std::map<std::wstring, std::wstring> remnants;
    try {
        LoadPersistentGroup(kRemnantsGroup, remnants);
    } catch (const std::exception& error) {
        // The product is already uninstalled; what cannot be listed stays behind.
        osh::LogWarning("Could not read the group Install-Files, no remnants deleted: " + std::string(error.what()));
        return;
    }
    for (const auto& remnant : remnants) {
        DeleteRemnant(remnant.second);
        try {
            osh::DeletePersistentValue(kRemnantsGroup, remnant.first);
        } catch (const std::exception& error) {
            osh::LogWarning(error.what());
        }
    }
}

}  // namespace

StateFinishingUninstall StateFinishingUninstall::instance_;

StateFinishingUninstall::StateFinishingUninstall() : WorkerState(L"FinishingUninstall") {}

StateFinishingUninstall* StateFinishingUninstall::Instance() { return &instance_; }

WorkerState* StateFinishingUninstall::Exec(Worker& worker)
{
    worker.Notify(StatusCompleting);
    DeleteInstallRemnants();
    worker.Notify(StatusSucceeded);
    return nullptr;
}

}  // namespace ziz
