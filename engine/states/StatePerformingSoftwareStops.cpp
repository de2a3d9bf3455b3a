#include "engine/states/StatePerformingSoftwareStops.h"

#include "engine/ProcessWindows.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingInstalls.h"
#include "engine/states/StatePerformingUninstalls.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

WorkerState* Successor(Worker& worker)
{
    switch (worker.GetMode()) {
    case INSTALL:
    case UPDATE: return StatePerformingInstalls::Instance();
    case UNINSTALL: return StatePerformingUninstalls::Instance();
    default: throw std::runtime_error("Invalid mode found in StatePerformingSoftwareStops");
    }
}

std::wstring InstalledDirectory(const wchar_t* name)
{
    std::wstring directory;
    if (!osh::GetWellKnownValue(name, directory)) directory.clear();
    return directory;
}

// Plain text prefix, case-sensitive, as the directories were recorded.
bool StartsWith(const std::wstring& path, const std::wstring& prefix)
{
    return !prefix.empty() && path.compare(0, prefix.size(), prefix) == 0;
}

// A process that cannot be opened or named is none of ours.
bool IsProductProcess(DWORD processId, const std::wstring& dir32, const std::wstring& dir64)
{
    try {
        const std::wstring image = ProcessImagePath(processId);
        return StartsWith(image, dir32) || StartsWith(image, dir64);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

StatePerformingSoftwareStops StatePerformingSoftwareStops::instance_;

StatePerformingSoftwareStops::StatePerformingSoftwareStops() : WorkerState(L"PerformingSoftwareStops") {}

StatePerformingSoftwareStops* StatePerformingSoftwareStops::Instance() { return &instance_; }

WorkerState* StatePerformingSoftwareStops::Exec(Worker& worker)
{
    try {
        WorkerState* next = Successor(worker);
        const std::wstring dir32 = InstalledDirectory(L"DirInstall32");
        const std::wstring dir64 = InstalledDirectory(L"DirInstall64");
        ForEachProcess([&](DWORD processId) {
            if (IsProductProcess(processId, dir32, dir64)) CloseProcessWindows(processId);
        });
        return next;
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
