#include "engine/states/StatePerformingLocalCopies.h"

#include "engine/states/StateFailed.h"
#include "engine/states/StateLoadingSequence.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "sequence/SafeFileName.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

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
        } else if (!osh::FileCopy(source, target, false)) {
            osh::LogWarning(L"Unable to copy \"" + source + L"\" to \"" + setupDirectory + L"\".");
        }
    }
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
        if (!osh::SamePath(setupDirectory, exeDirectory)) CopyLocalComponents(worker, exeDirectory, setupDirectory);
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
