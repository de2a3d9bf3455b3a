#include "engine/states/StateUpdatingAppliance.h"

#include "engine/MediumRecord.h"
#include "engine/MediumWriter.h"
#include "engine/SpaceCheck.h"
#include "engine/states/StateFailed.h"
#include "osh/DiskSpace.h"
#include "osh/Exception.h"
#include "osh/FileHash.h"
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

#include <cstdint>
#include <exception>
#include <map>
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

// One file the medium must carry: where it comes from and what it must be.
struct MediumEntry {
    std::wstring Source;
    MediumFile Expected;
    MediumAction Action = MediumAction::Copy;
    MediumFile Recorded;  // set once the file on the medium is known to be right
};

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

// What a file without digests of its own must be: what its source holds.
void CompleteFromSource(MediumEntry& entry, const std::wstring& setupFiles)
{
    if (!NeedsSourceDigests(entry.Expected)) return;
    osh::FileDigests source;
    if (!osh::CalculateFileDigests(entry.Source, source)) {
        throw std::runtime_error("Could not copy \"" + osh::Narrow(entry.Source) + "\" to \"" +
                                 osh::Narrow(Join(setupFiles, entry.Expected.Name)) + "\"");
    }
    entry.Expected = RecordedFrom(entry.Expected, source);
}

const std::uint64_t* FindIgnoringCase(const std::map<std::wstring, std::uint64_t>& sizes, const std::wstring& name)
{
    for (const auto& entry : sizes) {
        if (osh::ComparePaths(entry.first, name) == 0) return &entry.second;
    }
    return nullptr;
}

const MediumFile* Recorded(const MediumRecord& record, const std::wstring& name)
{
    for (const MediumFile& file : record.Files) {
        if (osh::ComparePaths(file.Name, name) == 0) return &file;
    }
    return nullptr;
}

// Decides for each file whether the copy on the medium can stay; reads those the record
// does not vouch for. Nothing is written.
void PlanRefresh(std::vector<MediumEntry>& entries, const std::wstring& setupFiles)
{
    MediumRecord record;
    std::string problem;
    if (!ReadMediumRecord(setupFiles, record, problem) && !problem.empty())
        osh::LogWarning("Medium record not usable, checking the files on the medium: " + problem);
    const std::map<std::wstring, std::uint64_t> present = FileSizesIn(setupFiles);
    for (MediumEntry& entry : entries) {
        CompleteFromSource(entry, setupFiles);
        const std::uint64_t* bytes = FindIgnoringCase(present, entry.Expected.Name);
        const MediumFile* recorded = Recorded(record, entry.Expected.Name);
        entry.Action = PlanMediumFile(entry.Expected, recorded, bytes != nullptr, bytes ? *bytes : 0);
        if (entry.Action == MediumAction::Keep) entry.Recorded = *recorded;
        if (entry.Action != MediumAction::Verify) continue;
        const std::wstring onMedium = Join(setupFiles, entry.Expected.Name);
        osh::FileDigests digests;
        const bool intact = osh::CalculateFileDigests(onMedium, digests) && DigestMismatch(entry.Expected, digests).empty();
        entry.Action = intact ? MediumAction::Keep : MediumAction::Copy;
        if (intact) entry.Recorded = RecordedFrom(entry.Expected, digests);
    }
}

std::uint64_t SourceBytes(const MediumEntry& entry)
{
    if (entry.Expected.HasSize) return entry.Expected.Size;
    std::uint64_t bytes = 0;
    if (!osh::GetFileByteCount(entry.Source, bytes)) throw std::runtime_error("Cannot open " + osh::Narrow(entry.Source));
    return bytes;
}

// Fails before the first byte is written when a file is too large for the medium's file
// system or the files still to write and the margin do not fit. A volume the system says
// nothing about is not held against the run.
void RequireRoomOnMedium(const std::vector<MediumEntry>& entries, const std::wstring& target)
{
    std::wstring fileSystem;
    const bool knowsFileSystem = MediumFileSystem(target, fileSystem);
    std::uint64_t toWrite = 0;
    for (const MediumEntry& entry : entries) {
        if (entry.Action != MediumAction::Copy) continue;
        const std::uint64_t bytes = SourceBytes(entry);
        toWrite = bytes > ~std::uint64_t(0) - toWrite ? ~std::uint64_t(0) : toWrite + bytes;
        const std::string tooLarge = knowsFileSystem ? FileTooLargeForMedium(target, fileSystem, entry.Expected.Name, bytes) : "";
        if (!tooLarge.empty()) throw std::runtime_error(tooLarge);
    }
    const std::uint64_t needed = BytesNeeded(toWrite);
    if (needed == 0) return;
    std::uint64_t freeBytes = 0;
    try {
        freeBytes = osh::FreeBytesForCaller(target);
    } catch (const win::exception& error) {
        osh::LogWarning(std::string("Free space on the medium not known, writing without the check: ") + error.what());
        return;
    }
    const std::string shortage = SpaceShortage(target, needed, freeBytes);
    if (!shortage.empty()) throw std::runtime_error(shortage);
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
