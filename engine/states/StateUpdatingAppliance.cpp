#include "engine/states/StateUpdatingAppliance.h"

#include "engine/MediumPlan.h"
#include "engine/MediumRecord.h"
#include "engine/MediumWriter.h"
#include "engine/states/StateFailed.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
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

void CreateHiddenDirectory(const std::wstring& path)
{
    if (!osh::CreatePath(path, false)) throw std::runtime_error("Could not create " + osh::Narrow(path));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    osh::GetAttributesEx(path, data);
    const DWORD wanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if ((data.dwFileAttributes & wanted) != wanted) osh::SetAttributes(path, data.dwFileAttributes | wanted);
}

InstallItem EmbeddedApplianceItem()
{
    Blob blob;
    ReadResourceBlob(kEmbeddedSequenceResource, blob);
    InstallItem appliance;
    if (!LoadApplianceItem(blob, appliance)) throw std::runtime_error("Unable to locate appliance in XML");
    return appliance;
}

// Makes the hidden folders on the medium; the names of the files already there.
NameSet PrepareTargetFolders(const std::wstring& base, const std::wstring& setupFiles)
{
    NameSet existing;
    try {
        CreateHiddenDirectory(base);
        CreateHiddenDirectory(setupFiles);
        std::vector<std::wstring> files;
        std::vector<std::wstring> directories;
        osh::ListDirectory(setupFiles, files, directories);
        existing.insert(files.begin(), files.end());
    } catch (const std::exception& error) {
        osh::LogError(error.what());
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
bool WriteMediumFiles(Worker& worker, std::vector<MediumEntry>& entries, const std::wstring& setupFiles)
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
            entry.Recorded = CopyToMedium(entry.Source, Join(setupFiles, entry.Expected.Name), entry.Expected);
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

void RunCopyScript(Worker& worker, const std::wstring& target)
{
    const std::wstring dataDirectory = osh::GetFullPath(Join(worker.RequirePath(evSetup), L".."));
    const std::wstring arguments[] = {
        worker.GetApplianceScriptPath(),
        osh::AppendBackslash(target),
        osh::AppendBackslash(dataDirectory),
        osh::AppendBackslash(worker.RequirePath(evInstall)),
    };
    std::wstring command;
    for (const std::wstring& argument : arguments) command += Quote(argument) + L" ";
    // Through the system's command processor, from the system folder: the script's own
    // commands name their programs by full path, and nothing planted in a user-writable
    // working directory is found first.
    if (RunLoggedAs(command, osh::CommandProcessorLine(command), osh::SystemFolder(), true) != 0) {
        throw std::runtime_error("Appliance copy script failed");
    }
}

// Files of an earlier preparation that are no longer part of the set.
void RemoveLeftovers(const std::wstring& setupFiles, const NameSet& existing, const NameSet& copied)
{
    for (const std::wstring& name : existing) {
        if (copied.count(name) == 0) osh::RemoveFile(Join(setupFiles, name));
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
        const std::wstring base = Join(target, L"Norlo");
        const std::wstring setupFiles = Join(base, L"SetupFiles");
        InstallItem appliance = EmbeddedApplianceItem();
        // Everything that can refuse the medium does so before anything on it changes.
        RequireWritableTarget(target);
        std::vector<MediumEntry> entries = FilesForMedium(worker, appliance);
        PlanRefresh(entries, setupFiles);
        RequireRoomOnMedium(entries, target);

        const NameSet existing = PrepareTargetFolders(base, setupFiles);
        // From here until the new record the medium is not complete, whatever happens.
        RemoveMediumRecord(setupFiles);
        // A medium without all components must not pass as prepared, and the older
        // copies on it are all it has left: keep them.
        if (!WriteMediumFiles(worker, entries, setupFiles)) {
            osh::LogError("Appliance medium is missing components, preparation failed");
            return StateFailed::Instance();
        }
        RunLogged(Quote(appliance.LocalPath) + L" -y ", target, false);
        RunCopyScript(worker, target);
        CreateHiddenDirectory(base);
        NameSet copied{kMediumRecordName};
        for (const MediumEntry& entry : entries) copied.insert(entry.Expected.Name);
        RemoveLeftovers(setupFiles, existing, copied);
        WriteMediumRecord(setupFiles, RecordOf(worker, entries));
        osh::LogInformation("Medium complete: " + osh::ToUtf8(Join(setupFiles, kMediumRecordName)) + " written");
        worker.Notify(StatusSucceeded);
        return nullptr;
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
