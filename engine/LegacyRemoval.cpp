#include "engine/LegacyRemoval.h"

#include "engine/ElevatedWorkFolder.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/OwnImage.h"
#include "osh/PathCompare.h"
#include "osh/PersistentStore.h"
#include "osh/Registry.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"

#include <windows.h>

#include <stdexcept>

namespace ziz {

namespace {

const wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

void ReplaceAll(std::wstring& text, const std::wstring& placeholder, const std::wstring& value)
{
    for (size_t at = text.find(placeholder); at != std::wstring::npos; at = text.find(placeholder, at + value.size()))
        text.replace(at, placeholder.size(), value);
}

}  // namespace

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring JoinPath(const std::wstring& directory, const std::wstring& name)
{
    return osh::AppendBackslash(directory) + name;
}

std::wstring FillNames(std::wstring text, const std::wstring& product, const std::wstring& oldProduct)
{
    ReplaceAll(text, L"{0}", product);
    ReplaceAll(text, L"{1}", oldProduct);
    return text;
}

int AskUser(unsigned firstId, unsigned secondId, unsigned type, const std::wstring& product,
            const std::wstring& oldProduct)
{
    const std::wstring text = FillNames(osh::LoadStringResource(firstId) + L"\n\n" + osh::LoadStringResource(secondId),
                                        product, oldProduct);
    return MessageBoxW(nullptr, text.c_str(), product.c_str(), type);
}

int AskRemoval(Worker& worker, const std::wstring& product, const std::wstring& oldProduct)
{
    if (!worker.HasOption(L"norestart"))
        return AskUser(425, 426, MB_ICONQUESTION | MB_YESNO, product, oldProduct);
    const std::wstring reason =
        oldProduct + L" must be removed before installing " + product + L"; an unattended run does not remove it";
    osh::LogInformation(reason);
    worker.Report().SetFailureReason(osh::Narrow(reason));
    return IDNO;
}

std::wstring RequireWellKnownValue(const wchar_t* name, const char* missingText)
{
    std::wstring value;
    if (!osh::GetWellKnownValue(name, value) || value.empty()) throw std::runtime_error(missingText);
    return value;
}

std::optional<osh::PinnedFolder> FolderForRemoval(const std::wstring& folder, const std::wstring& what)
{
    try {
        return osh::PinnedFolder::Open(folder);
    } catch (const osh::RefusedEntry& refused) {
        // Through a linked folder a name would reach a file elsewhere.
        osh::LogWarning(what + L" left alone: " + Quote(refused.Path()) +
                        (refused.Kind() == osh::EntryKind::Link ? L" is a link" : L" is not a folder"));
        return std::nullopt;
    }
}

void DeleteOrSetAside(const osh::PinnedFolder& folder, const std::wstring& name)
{
    const std::wstring path = folder.PathOf(name);
    try {
        // A read-only file stays to be set aside, as a plain delete leaves it.
        folder.Remove(name, false);
        osh::LogInformation(path + L" deleted");
        return;
    } catch (const win::exception& error) {
        osh::LogWarning(win::exception(error.code(), "DeleteFile(" + osh::Narrow(path) + ")").what());
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());  // a link the system opens only as its target stays
        return;
    }
    const std::wstring backup = name + L".bak";
    osh::LogInformation(L"Renaming file " + path + L" to " + folder.PathOf(backup));
    try {
        folder.Rename(name, backup);
        osh::LogInformation("File renamed");
    } catch (const win::exception& error) {
        osh::LogWarning(
            win::exception(error.code(), "MoveFile(" + osh::Narrow(path) + "," + osh::Narrow(folder.PathOf(backup)) + ")")
                .what());
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
}

void DeleteOrSetAside(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) throw std::runtime_error(osh::Narrow(path) + " is not a full path");
    const std::optional<osh::PinnedFolder> folder = FolderForRemoval(path.substr(0, cut), path);
    if (folder) DeleteOrSetAside(*folder, path.substr(cut + 1));
}

std::wstring PlaceSetupCopy(Worker& worker)
{
    // The next logon starts the copy with an administrator's rights; in the setup files any
    // user could replace it before then. Its bytes come from the file this process runs
    // from, held since start-up, not from whatever its path names by now.
    if (IsElevatedRun()) {
        const std::wstring folder = MakeLastingAdminOnlyFolder();
        const std::wstring target = folder.empty() ? folder : JoinPath(folder, worker.RequireFileName(evSetup));
        if (!target.empty() && osh::CopyOwnImage(target, true)) return target;
        osh::LogWarning("No safe copy for the next logon: start the install again after the restart");
        return std::wstring();
    }
    const std::wstring source = JoinPath(worker.RequirePath(evInitial), worker.RequireFileName(evInitial));
    const std::wstring target = JoinPath(worker.RequirePath(evSetup), worker.RequireFileName(evSetup));
    // A failed copy still leaves the run-once entry naming the setup-files copy; the
    // copy of an earlier install is usually there.
    if (!osh::SamePath(source, target)) osh::CopyOwnImage(target, false);
    return target;
}

void ScheduleAtNextLogon(const std::wstring& product, const std::wstring& command)
{
    // Created when a fresh system does not have it yet.
    const osh::ScopedKey key =
        osh::CreateKey(HKEY_LOCAL_MACHINE, kRunOnceKey, L"", REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, nullptr);
    osh::SetString(key.get(), L"Install " + product, command);
}

}  // namespace ziz
