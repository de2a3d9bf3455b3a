#include "engine/PendingRestart.h"

#include "osh/Elevation.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Registry.h"
#include "osh/ScopedHandle.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>

namespace ziz {

namespace {

const wchar_t kServicingKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\RebootPending";
const wchar_t kUpdateKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\WindowsUpdate\\Auto Update\\RebootRequired";
const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const kRenameValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

constexpr UINT RestartRequiredCaption = 417;
constexpr UINT RestartNowQuestion = 421;
constexpr UINT PendingRestartText = 431;

// A stored rename path as a plain path: without a target's "!" and the "\??\" prefix.
std::wstring PlainPath(std::wstring path)
{
    if (!path.empty() && path[0] == L'!') path.erase(0, 1);
    if (path.compare(0, 4, L"\\??\\") == 0) path.erase(0, 4);
    return path;
}

bool InOneOf(const std::wstring& path, const std::vector<std::wstring>& folders)
{
    for (const std::wstring& folder : folders) {
        if (osh::IsPathInside(path, folder) || (!folder.empty() && osh::SamePath(path, folder))) return true;
    }
    return false;
}

bool KeyExists(const wchar_t* subKey)
{
    return static_cast<bool>(osh::OpenKey(HKEY_LOCAL_MACHINE, subKey, KEY_READ | KEY_WOW64_64KEY));
}

// The raw data of a REG_MULTI_SZ value; empty when it is missing or of another type.
std::wstring MultiStringData(HKEY key, const wchar_t* name)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return std::wstring();
    std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]), &size) != ERROR_SUCCESS)
        return std::wstring();
    data.resize(size / sizeof(wchar_t));
    return data;
}

std::vector<std::wstring> ProductFolders(Worker& worker)
{
    std::vector<std::wstring> folders;
    std::vector<PathKind> kinds{evInstall32, evSetup};
    if (worker.Is64BitOs()) kinds.push_back(evInstall64);
    for (const PathKind kind : kinds) {
        std::wstring folder;
        if (worker.GetPath(folder, kind)) folders.push_back(folder);
    }
    return folders;
}

// Yes: restart now (the run ends); No: go on.
bool UserChoosesRestart()
{
    const std::wstring text =
        osh::LoadStringResource(PendingRestartText) + L"\n\n" + osh::LoadStringResource(RestartNowQuestion);
    const std::wstring caption = osh::LoadStringResource(RestartRequiredCaption);
    return MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_YESNO | MB_ICONQUESTION | MB_SYSTEMMODAL) == IDYES;
}

bool StopForRestart(Worker& worker, const std::wstring& reason)
{
    osh::LogError(reason);
    worker.Report().SetHoldBack(HoldBack::RestartPending);
    worker.Report().SetFailureReason(osh::Narrow(reason));
    return false;
}

}  // namespace

std::vector<std::wstring> RenamesUnder(const std::wstring& data, const std::vector<std::wstring>& folders)
{
    std::vector<std::wstring> found;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find(L'\0', start);
        if (end == std::wstring::npos) end = data.size();
        const std::wstring path = PlainPath(data.substr(start, end - start));
        if (!path.empty() && InOneOf(path, folders)) found.push_back(path);
        start = end + 1;
    }
    return found;
}

PendingRestartStep DecidePendingRestart(bool pending, bool interactive, bool unattended)
{
    if (!pending) return PendingRestartStep::Go;
    if (unattended) return PendingRestartStep::Stop;
    return interactive ? PendingRestartStep::Ask : PendingRestartStep::Warn;
}

std::vector<std::wstring> PendingRestartCauses(const std::vector<std::wstring>& folders)
{
    std::vector<std::wstring> causes;
    try {
        if (KeyExists(kServicingKey)) causes.push_back(L"component servicing waits for a restart");
        if (KeyExists(kUpdateKey)) causes.push_back(L"Windows Update waits for a restart");
        const osh::ScopedKey sessionManager = osh::OpenKey(HKEY_LOCAL_MACHINE, kSessionManagerKey, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
        for (const wchar_t* value : kRenameValues) {
            if (!sessionManager) break;
            for (const std::wstring& path : RenamesUnder(MultiStringData(sessionManager.get(), value), folders))
                causes.push_back(L"a file operation waits for a restart: " + path);
        }
    } catch (const std::exception& error) {
        // A registry that cannot be read is not held against the run.
        osh::LogWarning(std::string("Cannot tell whether Windows waits for a restart: ") + error.what());
    }
    return causes;
}

bool PassPendingRestart(Worker& worker)
{
    const std::vector<std::wstring> causes = PendingRestartCauses(ProductFolders(worker));
    for (const std::wstring& cause : causes) osh::LogWarning(L"Windows waits for a restart: " + cause);
    const bool interactive = !worker.HasOption(L"silent");
    const bool unattended = worker.HasOption(L"norestart");
    switch (DecidePendingRestart(!causes.empty(), interactive, unattended)) {
    case PendingRestartStep::Go: return true;
    case PendingRestartStep::Warn:
        osh::LogWarning("A silent run goes on although Windows waits for a restart");
        return true;
    case PendingRestartStep::Stop:
        return StopForRestart(worker, L"Windows waits for a restart (" + causes.front() +
                                    L"); an unattended run does not restart, so nothing was changed");
    case PendingRestartStep::Ask: break;
    }
    if (!UserChoosesRestart()) {
        osh::LogWarning("The user chose to go on without restarting first");
        return true;
    }
    if (!osh::RebootSystem(L"", L"", nullptr))
        return StopForRestart(worker, L"Windows waits for a restart and the restart could not be started; nothing was changed");
    return StopForRestart(worker, L"The computer restarts first, as the user chose; nothing was changed");
}

}  // namespace ziz
