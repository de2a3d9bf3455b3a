#include "engine/SetupFilesCache.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <atomic>
#include <exception>

namespace ziz {

namespace {

std::atomic<bool> g_refusalLogged{false};

bool IsBusy(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_USER_MAPPED_FILE ||
           error == ERROR_LOCK_VIOLATION;
}

std::wstring AsideName(const std::wstring& name)
{
    return name + L"." + std::to_wstring(GetCurrentProcessId()) + L".old";
}

// A file that still runs cannot be deleted; it stays under its aside name until a later run.
void RemoveAside(const osh::PinnedFolder& folder, const std::wstring& aside)
{
    try {
        folder.Remove(aside);
    } catch (const std::exception&) {
        osh::LogInformation(folder.PathOf(aside) + L" is still in use and stays");
    }
}

void WriteReplacingBusy(const osh::PinnedFolder& folder, HANDLE source, const std::wstring& name)
{
    try {
        folder.WriteCopy(source, name);
        return;
    } catch (const win::exception& error) {
        if (!IsBusy(error.code()) || folder.KindOf(name) != osh::EntryKind::File) throw;
    }
    const std::wstring aside = AsideName(name);
    folder.Rename(name, aside);
    osh::LogInformation(L"Moved busy " + folder.PathOf(name) + L" aside to " + folder.PathOf(aside));
    try {
        folder.WriteCopy(source, name);
    } catch (...) {
        folder.Rename(aside, name);
        throw;
    }
    RemoveAside(folder, aside);
}

}  // namespace

std::optional<osh::PinnedFolder> PinSetupFiles(const std::wstring& setupDirectory, bool create)
{
    try {
        if (create) return osh::PinnedFolder::OpenCreating(setupDirectory, osh::kCreatedDirectorySddl);
        return osh::PinnedFolder::Open(setupDirectory);
    } catch (const std::exception& error) {
        if (!g_refusalLogged.exchange(true))
            osh::LogWarning("Refusing the setup files folder " + osh::Narrow(setupDirectory) + ": " + error.what() +
                            "; nothing is cached there");
        return std::nullopt;
    }
}

bool CopyIntoSetupFiles(const std::wstring& setupDirectory, const std::wstring& source, const std::wstring& name)
{
    const std::wstring target = osh::AppendBackslash(setupDirectory) + name;
    if (osh::SamePath(source, target)) return true;
    const std::optional<osh::PinnedFolder> folder = PinSetupFiles(setupDirectory, true);
    if (!folder) return false;
    try {
        const osh::ScopedFile file(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) throw win::exception(GetLastError(), "CreateFile(\"" + osh::Narrow(source) + "\")");
        WriteReplacingBusy(*folder, file.get(), name);
        return true;
    } catch (const std::exception& error) {
        osh::LogWarning(L"Could not copy " + source + L" to " + target + L": " + osh::Widen(error.what()));
        return false;
    }
}

void RequireReplaceableInSetupFiles(const std::wstring& setupDirectory, const std::wstring& name)
{
    const std::optional<osh::PinnedFolder> folder = PinSetupFiles(setupDirectory);
    if (!folder) return;
    const std::string context = "Cannot replace \"" + osh::Narrow(folder->PathOf(name)) + "\"";
    for (const osh::FolderEntry& entry : folder->List()) {
        if (osh::ComparePaths(entry.name, name) != 0 || entry.kind != osh::EntryKind::File) continue;
        if (entry.attributes & FILE_ATTRIBUTE_READONLY)
            throw win::exception(static_cast<DWORD>(ERROR_ACCESS_DENIED), context);
        try {
            folder->OpenFile(entry.name, GENERIC_WRITE, 0, 1 /* FILE_OPEN */);
        } catch (const win::exception& error) {
            throw win::exception(error.code(), context);
        }
    }
}

void RemoveFromSetupFiles(const std::wstring& setupDirectory, const std::wstring& name)
{
    const std::optional<osh::PinnedFolder> folder = PinSetupFiles(setupDirectory);
    if (!folder) return;
    try {
        folder->Remove(name);
    } catch (const std::exception& error) {
        osh::LogWarning(L"Could not remove " + folder->PathOf(name) + L": " + osh::Widen(error.what()));
    }
}

void ForgetSetupFilesRefusal() { g_refusalLogged = false; }

}  // namespace ziz
