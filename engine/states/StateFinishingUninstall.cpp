#include "engine/states/StateFinishingUninstall.h"

#include "engine/PersistentGroup.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/PinnedFolder.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <map>
#include <string>

namespace ziz {

namespace {

const wchar_t kRemnantsGroup[] = L"Install-Files";

// The remnant is deleted relative to its folder, opened one folder at a time without
// following a link: a folder swapped for a link at any moment cannot lead the delete
// elsewhere. A link as the last part is deleted as the link itself.
void DeleteRemnant(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L'\\');
    try {
        if (cut == std::wstring::npos) throw win::exception(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), "");
        osh::PinnedFolder::Open(path.substr(0, cut)).Remove(path.substr(cut + 1));
    } catch (const osh::RefusedEntry& refused) {
        osh::LogWarning(L"DeleteInstallRemnants: file \"" + path + L"\" left alone: \"" + refused.Path() + L"\" is " +
                        (refused.Kind() == osh::EntryKind::Link ? L"a link" : L"not a folder"));
    } catch (const win::exception& error) {
        // A file already gone is what we want.
        if (error.code() == ERROR_FILE_NOT_FOUND || error.code() == ERROR_PATH_NOT_FOUND) return;
        // The system's message alone: the line already says what failed.
        osh::LogWarning(L"DeleteInstallRemnants: file \"" + path + L"\" could not be deleted: " +
                        osh::Widen(win::exception(error.code(), "").what()));
    } catch (const std::exception& error) {
        osh::LogWarning(L"DeleteInstallRemnants: file \"" + path + L"\" could not be deleted: " + osh::Widen(error.what()));
    }
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
