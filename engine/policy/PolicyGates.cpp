#include "engine/policy/PolicyGates.h"

#include "engine/policy/PolicyKey.h"
#include "engine/states/StateFailed.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PersistentStore.h"
#include "osh/Text.h"

#include <exception>

namespace ziz {

namespace {

// The release the last finished install left on this machine; empty when none is known.
std::wstring InstalledVersion()
{
    std::wstring version;
    try {
        if (!osh::GetPersistentValue(L"Setup", L"LastVer", version)) version.clear();
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
        version.clear();
    }
    return version;
}

std::wstring RunningVersion(Worker& worker)
{
    std::wstring directory;
    std::wstring name;
    std::wstring version;
    if (!worker.GetPath(directory, evInitial) || !worker.GetFileName(name, evInitial) ||
        !worker.GetFileVersion(version, osh::AppendBackslash(directory) + name)) {
        return std::wstring();
    }
    return version;
}

}  // namespace

bool PolicyAllowsHandOver(const std::wstring& where, const std::wstring& version)
{
    const std::string refusal = HandOverRefusal(RunPolicies(), version);
    if (refusal.empty()) return true;
    osh::LogInformation(L"Bootstrapper " + version + L" (" + where + L") is not handed over to: " + osh::Widen(refusal));
    return false;
}

bool TargetVersionStops(Worker& worker, WorkerState*& next)
{
    next = nullptr;
    const Policies& policies = RunPolicies();
    if (!policies.targetVersionPrefix) return false;
    const std::wstring prefix = L"Policy TargetVersionPrefix=" + *policies.targetVersionPrefix;
    const std::wstring installed = InstalledVersion();
    const std::wstring running = RunningVersion(worker);
    switch (JudgeTarget(policies, installed, running)) {
    case TargetGate::Go: return false;
    case TargetGate::LeaveAlone:
        osh::LogInformation(prefix + L": this machine has " + installed + L", ahead of it; left alone");
        worker.Notify(StatusUpToDate);
        return true;
    case TargetGate::Refuse: break;
    }
    const std::wstring reason = prefix + L": this bootstrapper's release " + (running.empty() ? L"(unknown)" : running) +
                                L" is outside it and none within it was found; nothing was fetched or installed";
    osh::LogError(reason);
    worker.Report().SetFailureReason(osh::Narrow(reason));
    next = StateFailed::Instance();
    return true;
}

}  // namespace ziz
