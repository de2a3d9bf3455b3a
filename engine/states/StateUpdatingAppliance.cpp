#include "engine/states/StateUpdatingAppliance.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/HeldComponent.h"
#include "engine/MediumPlan.h"
#include "engine/MediumRecord.h"
#include "engine/MediumWriter.h"
#include "engine/states/StateFailed.h"
#include "osh/FileSystem.h"
#include "osh/HeldFolderPath.h"
#include "osh/Log.h"
#include "osh/PinnedFolder.h"
#include "osh/PathCompare.h"
#include "osh/Process.h"
#include "osh/SystemPrograms.h"
#include "osh/Text.h"
#include "sequence/Blob.h"
#include "sequence/SafeFileName.h"
#include "sequence/SequenceLoader.h"

#include <windows.h>

#include <exception>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ziz {

namespace {

const unsigned int kEmbeddedSequenceResource = 300;

std::wstring Join(const std::wstring& directory, const std::wstring& name)
{
    return osh::AppendBackslash(directory) + name;
}

std::wstring Quote(const std::wstring& text) { return L"\"" + text + L"\""; }

// File names compare as the file system does: without regard to letter case.
struct LessIgnoringCase {
    bool operator()(const std::wstring& a, const std::wstring& b) const
    {
        return osh::ComparePaths(a, b) < 0;
    }
};
using NameSet = std::set<std::wstring, LessIgnoringCase>;

const DWORD kHiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// The medium's folders are opened one at a time without following a link, and every change
// is made relative to them: a link planted on the medium leads no write or delete elsewhere.
struct MediumFolders {
    osh::PinnedFolder target;
    osh::PinnedFolder base;
    osh::PinnedFolder setupFiles;
};

osh::PinnedFolder HiddenFolder(const osh::PinnedFolder& parent, const std::wstring& name)
{
    osh::PinnedFolder folder = parent.Folder(name, true);
    parent.ChangeAttributes(name, kHiddenSystem, 0);
    return folder;
}

MediumFolders OpenMediumFolders(const std::wstring& target)
{
    osh::PinnedFolder medium = osh::PinnedFolder::Open(target);
    osh::PinnedFolder base = HiddenFolder(medium, L"Norlo");
    osh::PinnedFolder setupFiles = HiddenFolder(base, L"SetupFiles");
    return MediumFolders{std::move(medium), std::move(base), std::move(setupFiles)};
}

InstallItem EmbeddedApplianceItem()
{
    Blob blob;
    ReadResourceBlob(kEmbeddedSequenceResource, blob);
    InstallItem appliance;
    if (!LoadApplianceItem(blob, appliance)) throw std::runtime_error("Unable to locate appliance in XML");
    return appliance;
}

// The names of the plain files already on the medium.
NameSet FilesOnMedium(const osh::PinnedFolder& setupFiles)
{
    NameSet existing;
    for (const osh::FolderEntry& entry : setupFiles.List()) {
        if (entry.kind == osh::EntryKind::File) existing.insert(entry.name);
    }
    return existing;
}

// The files of the medium (every component, then the running bootstrapper as "Setup.exe")
// and the downloaded appliance program.
std::vector<MediumEntry> FilesForMedium(Worker& worker, InstallItem& appliance)
{
    std::vector<MediumEntry> entries;
    InstallSequence sequence;
    worker.GetItems(sequence);
    for (const InstallItem& item : sequence) {
        if (item.Url == appliance.Url) {
            appliance.SetLocalPath(item.LocalPath);
            continue;
        }
        RequireSafeFileName(item);
        // Both platforms may share a file: the medium carries it once.
        bool listed = false;
        for (const MediumEntry& entry : entries) listed = listed || osh::ComparePaths(entry.Expected.Name, item.Filename) == 0;
        if (!listed) entries.push_back({item.LocalPath, ExpectedFromItem(item), MediumAction::Copy, MediumFile()});
    }
    MediumFile setup;
    setup.Name = worker.RequireFileName(evSetup);
    entries.push_back({Join(worker.RequirePath(evInitial), worker.RequireFileName(evInitial)), setup, MediumAction::Copy, MediumFile()});
    return entries;
}

// Writes what is missing or differs, reading each file back; one log line per file.
// False (logged) when a file could not be written or read back: the medium then lacks
// components and gets no record.
bool WriteMediumFiles(Worker& worker, std::vector<MediumEntry>& entries, const osh::PinnedFolder& setupFiles)
{
    const int count = static_cast<int>(entries.size());
    try {
        for (int index = 0; index < count; ++index) {
            MediumEntry& entry = entries[static_cast<size_t>(index)];
            worker.Notify(StatusInstalling, index, count);
            const std::string name = osh::ToUtf8(entry.Expected.Name);
            if (entry.Action == MediumAction::Keep) {
                osh::LogInformation("Kept on the medium: " + name + " (" + std::to_string(entry.Recorded.Size) + " bytes, intact)");
                continue;
            }
            entry.Recorded = CopyToMedium(entry.Source, setupFiles, entry.Expected.Name, entry.Expected);
            osh::LogInformation("Copied to the medium: " + name + " (" + std::to_string(entry.Recorded.Size) +
                                " bytes, read back intact)");
        }
        return true;
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return false;
    }
}

MediumRecord RecordOf(Worker& worker, const std::vector<MediumEntry>& entries)
{
    MediumRecord record;
    const std::wstring program = Join(worker.RequirePath(evInitial), worker.RequireFileName(evInitial));
    if (!worker.GetFileVersion(record.BootstrapperVersion, program)) record.BootstrapperVersion.clear();
    record.Written = RecordTimestamp();
    for (const MediumEntry& entry : entries) record.Files.push_back(entry.Recorded);
    return record;
}

// The exit code; a failure is logged at error when it ends the preparation, else at warning.
// The line names `shown`, the command as its author wrote it; `commandLine` is what runs.
DWORD RunLoggedAs(const std::wstring& shown, const std::wstring& commandLine, const std::wstring& directory,
                  bool fatal)
{
    osh::LogInformation(L"Executing command: " + shown);
    const DWORD exitCode = osh::RunAndWait(commandLine, directory);
    if (exitCode != 0) {
        const std::string line = "Command failed, exit status: " + std::to_string(exitCode);
        fatal ? osh::LogError(line) : osh::LogWarning(line);
    }
    return exitCode;
}

DWORD RunLogged(const std::wstring& command, const std::wstring& directory, bool fatal)
{
    return RunLoggedAs(command, command, directory, fatal);
}

// The script only reports: marking the medium's folder hidden and system is done in-process,
// relative to the folder's handle, since a command in the script could name it only by path.
void RunCopyScript(Worker& worker, const osh::PinnedFolder& target)
{
    const std::wstring dataDirectory = osh::GetFullPath(Join(worker.RequirePath(evSetup), L".."));
    const std::wstring arguments[] = {
        worker.GetApplianceScriptPath(),
        osh::AppendBackslash(target.Path()),
        osh::AppendBackslash(dataDirectory),
        osh::AppendBackslash(worker.RequirePath(evInstall)),
    };
    std::wstring command;
    for (const std::wstring& argument : arguments) command += Quote(argument) + L" ";
    // Through the system's command processor, from the system folder: the script's own
    // commands name their programs by full path, and nothing planted in a user-writable
    // working directory is found first. It is handed the target as a path: held, that path
    // names the medium opened earlier until the script has ended.
    const osh::HeldFolderPath heldTarget(target);
    if (RunLoggedAs(command, osh::CommandProcessorLine(command), osh::SystemFolder(), true) != 0) {
        throw std::runtime_error("Appliance copy script failed");
    }
}

// The appliance program runs from a copy of its own, in a folder of the run's (admin-only
// when elevated), held open against writers and checked on that handle until it has ended:
// nothing planted beside it in the setup files is loaded, and nobody changes it meanwhile.
void RunApplianceProgram(Worker& worker, const InstallItem& appliance, const osh::PinnedFolder& target)
{
    RequireSafeFileName(appliance);
    std::wstring folder;
    if (!CreateRunTempFolder(folder)) throw std::runtime_error("No folder for a copy of the appliance program");
    const std::wstring copy = Join(folder, appliance.Filename);
    if (!osh::FileCopy(appliance.LocalPath, copy, true))
        throw std::runtime_error("Could not copy the appliance program to " + osh::Narrow(copy));
    const HeldComponent held(copy);
    if (!held.Verify(worker, appliance))
        throw std::runtime_error("The appliance program " + osh::Narrow(copy) + " failed its check");
    // Its working directory is the target, which only a path can give: held, the path names
    // the medium opened earlier, and no folder on it can be swapped for a junction meanwhile.
    const osh::HeldFolderPath workingDirectory(target);
    RunLogged(Quote(copy) + L" -y ", workingDirectory.Path(), false);
}

// Files of an earlier preparation that are no longer part of the set.
void RemoveLeftovers(const osh::PinnedFolder& setupFiles, const NameSet& existing, const NameSet& copied)
{
    for (const std::wstring& name : existing) {
        if (copied.count(name) != 0) continue;
        try {
            setupFiles.Remove(name);
        } catch (const std::exception& error) {
            osh::LogWarning(error.what());
        }
    }
}

}  // namespace

StateUpdatingAppliance StateUpdatingAppliance::instance_;

StateUpdatingAppliance::StateUpdatingAppliance() : WorkerState(L"UpdatingAppliance") {}

StateUpdatingAppliance* StateUpdatingAppliance::Instance() { return &instance_; }

WorkerState* StateUpdatingAppliance::Exec(Worker& worker)
{
    try {
        const std::wstring target = worker.GetApplianceTarget();
        // Without a target the medium would be assembled in whatever the working directory is.
        if (target.empty()) throw std::runtime_error("No appliance target given");
        const std::wstring setupFiles = Join(Join(target, L"Norlo"), L"SetupFiles");
        InstallItem appliance = EmbeddedApplianceItem();
        // Everything that can refuse the medium does so before anything on it changes.
        RequireWritableTarget(target);
        std::vector<MediumEntry> entries = FilesForMedium(worker, appliance);
        PlanRefresh(entries, setupFiles);
        RequireRoomOnMedium(entries, target);

        const MediumFolders medium = OpenMediumFolders(target);
        const NameSet existing = FilesOnMedium(medium.setupFiles);
        // From here until the new record the medium is not complete, whatever happens.
        RemoveMediumRecord(medium.setupFiles);
        // A medium without all components must not pass as prepared, and the older
        // copies on it are all it has left: keep them.
        if (!WriteMediumFiles(worker, entries, medium.setupFiles)) {
            osh::LogError("Appliance medium is missing components, preparation failed");
            return StateFailed::Instance();
        }
        RunApplianceProgram(worker, appliance, medium.target);
        RunCopyScript(worker, medium.target);
        medium.target.ChangeAttributes(L"Norlo", kHiddenSystem, 0);
        NameSet copied{kMediumRecordName};
        for (const MediumEntry& entry : entries) copied.insert(entry.Expected.Name);
        RemoveLeftovers(medium.setupFiles, existing, copied);
        WriteMediumRecord(medium.setupFiles, RecordOf(worker, entries));
        osh::LogInformation("Medium complete: " + osh::ToUtf8(Join(setupFiles, kMediumRecordName)) + " written");
        worker.Notify(StatusSucceeded);
        return nullptr;
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
