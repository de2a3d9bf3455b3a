#include "engine/states/StatePerformingLocalCopies.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/MediumRecord.h"
#include "engine/MediumWriter.h"
#include "engine/SetupFilesCache.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateLoadingSequence.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Text.h"
#include "sequence/SafeFileName.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

bool PassesCheck(Worker& worker, const InstallItem& item, const std::wstring& file)
{
    // Judging a copy is not the item's outcome: the downloads decide that.
    const RunReport before = worker.Report();
    const bool intact = worker.VerifyItemFile(item, file);
    worker.Report() = before;
    return intact;
}

// An elevated run changes the setup files only relative to the folder's own handle; what
// it runs it takes into its own folder later, checked again there.
void TakeInCheckedElevated(Worker& worker, const InstallItem& item, const std::wstring& source,
                           const std::wstring& target, const std::wstring& setupDirectory)
{
    if (!PassesCheck(worker, item, source)) {
        osh::LogWarning(L"Copy of \"" + source + L"\" failed its check, \"" + target + L"\" left as it was.");
    } else if (!CopyIntoSetupFiles(setupDirectory, source, item.Filename)) {
        osh::LogWarning(L"Unable to copy \"" + source + L"\" to \"" + setupDirectory + L"\".");
    }
}

// The setup-files copy is replaced only by a copy that passed its check: a bad file on the
// medium leaves an intact cached copy as it was.
void TakeInChecked(Worker& worker, const InstallItem& item, const std::wstring& source, const std::wstring& target,
                   const std::wstring& setupDirectory)
{
    if (IsElevatedRun()) {
        TakeInCheckedElevated(worker, item, source, target, setupDirectory);
        return;
    }
    const std::wstring taken = target + L".local";
    if (!osh::FileCopy(source, taken, false)) {
        osh::RemoveFile(taken);
        osh::LogWarning(L"Unable to copy \"" + source + L"\" to \"" + setupDirectory + L"\".");
        return;
    }
    if (!PassesCheck(worker, item, taken)) {
        osh::RemoveFile(taken);
        osh::LogWarning(L"Copy of \"" + source + L"\" failed its check, \"" + target + L"\" left as it was.");
        return;
    }
    if (!MoveFileExW(taken.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        osh::RemoveFile(taken);
        osh::LogWarning(L"Unable to copy \"" + source + L"\" to \"" + setupDirectory + L"\".");
    }
}

// Components lying beside a program started from installation media are taken in, so
// they need not be downloaded.
void CopyLocalComponents(Worker& worker, const std::wstring& exeDirectory, const std::wstring& setupDirectory)
{
    InstallSequence items;
    worker.GetItems(items);
    for (const InstallItem& item : items) {
        RequireSafeFileName(item);
        const std::wstring source = osh::AppendBackslash(exeDirectory) + item.Filename;
        const std::wstring target = osh::AppendBackslash(setupDirectory) + item.Filename;
        if (!osh::IsFile(source)) {
            osh::LogInformation(item.Filename + L" does not exist, not copied.");
        } else {
            TakeInChecked(worker, item, source, target, setupDirectory);
        }
    }
}

bool AnyComponentBeside(Worker& worker, const std::wstring& exeDirectory)
{
    InstallSequence items;
    worker.GetItems(items);
    for (const InstallItem& item : items) {
        if (osh::IsFile(osh::AppendBackslash(exeDirectory) + item.Filename)) return true;
    }
    return false;
}

// Says in the log whether the medium the program runs from was completed: a medium whose
// preparation was cut short has no record, or files that differ from it.
void ReportMediumState(Worker& worker, const std::wstring& exeDirectory)
{
    MediumRecord record;
    std::string problem;
    if (!ReadMediumRecord(exeDirectory, record, problem)) {
        if (!problem.empty()) {
            osh::LogWarning("medium incomplete: its record " + osh::ToUtf8(kMediumRecordName) + " is unreadable: " + problem);
        } else if (AnyComponentBeside(worker, exeDirectory)) {
            osh::LogWarning("medium incomplete: no record " + osh::ToUtf8(kMediumRecordName) + " beside the components");
        }
        return;
    }
    const std::string mismatch = MediumRecordMismatch(record, FileSizesIn(exeDirectory));
    if (!mismatch.empty()) {
        osh::LogWarning("medium incomplete: " + mismatch);
        return;
    }
    osh::LogInformation("Medium complete: " + std::to_string(record.Files.size()) + " files as recorded " +
                        record.Written + " by Setup " + osh::ToUtf8(record.BootstrapperVersion));
}

}  // namespace

StatePerformingLocalCopies StatePerformingLocalCopies::instance_;

StatePerformingLocalCopies::StatePerformingLocalCopies() : WorkerState(L"PerformingLocalCopies") {}

StatePerformingLocalCopies* StatePerformingLocalCopies::Instance() { return &instance_; }

WorkerState* StatePerformingLocalCopies::Exec(Worker& worker)
{
    try {
        const std::wstring setupDirectory = worker.RequirePath(evSetup);
        const std::wstring exeDirectory = worker.RequirePath(evInitial);
        if (!osh::SamePath(setupDirectory, exeDirectory)) {
            ReportMediumState(worker, exeDirectory);
            CopyLocalComponents(worker, exeDirectory, setupDirectory);
        }
        const InstallMode mode = worker.GetMode();
        if (static_cast<unsigned int>(mode) > static_cast<unsigned int>(UPDATE)) {
            throw std::runtime_error("Invalid mode found in StatePerformingLocalCopies");
        }
        return StateLoadingSequence::Instance();
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
