#include "engine/states/StateInitializing.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/PublisherTrust.h"
#include "engine/policy/PolicyGates.h"
#include "engine/SetupFilesCache.h"
#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "engine/states/StateSeekingSelfUpdate.h"
#include "osh/EmbeddedSignature.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ProcessTermination.h"

#include <string>
#include <vector>

namespace ziz {

namespace {

// The names this program takes in the setup-files directory: the setup copy, its own
// name, and the bootstrapper a download run saves there.
std::vector<std::wstring> OwnNames(Worker& worker)
{
    std::vector<std::wstring> names{L"Update.exe"};
    std::wstring name;
    if (worker.GetFileName(name, evSetup)) names.push_back(name);
    if (worker.GetFileName(name, evInitial)) names.push_back(name);
    return names;
}

// Copies of this program running from our setup-files directory would hold the files this
// run replaces. Other programs, and the callers waiting for this run, are left alone.
void EndStaleCopies(Worker& worker)
{
    std::wstring setupDirectory;
    if (!worker.GetPath(setupDirectory, evSetup)) return;
    osh::TerminateStaleCopies(setupDirectory, OwnNames(worker));
}

void ConsiderRunningProgram(Worker& worker)
{
    std::wstring directory;
    std::wstring name;
    if (!worker.GetPath(directory, evInitial) || !worker.GetFileName(name, evInitial)) return;
    const std::wstring path = osh::AppendBackslash(directory) + name;
    std::wstring version;
    if (worker.GetFileVersion(version, path)) worker.ConsiderCandidate(path, version);
}

// False only when the setup-files directory cannot be created.
bool ConsiderSetupFilesCopy(Worker& worker)
{
    std::wstring setupName;
    std::wstring setupDirectory;
    if (!worker.GetFileName(setupName, evSetup) || !worker.GetPath(setupDirectory, evSetup)) return true;
    // An elevated run makes it without following a link on the way; a refused folder only
    // means nothing is cached there (logged), the run goes on from its work folder.
    if (IsElevatedRun()) {
        PinSetupFiles(setupDirectory, true);
    } else if (!osh::CreatePath(setupDirectory, false)) {
        osh::LogError(L"Could not create directory path " + setupDirectory);
        return false;
    }
    std::wstring programName;
    if (!worker.GetFileName(programName, evInitial)) return true;
    const std::wstring path = osh::AppendBackslash(setupDirectory) + programName;
    std::wstring version;
    // A copy anyone could have put there must not take over the run unless it is signed,
    // by this program's publisher when this program is signed, and as the policies allow.
    if (worker.GetFileVersion(version, path) && osh::VerifyEmbeddedSignature(path).state == osh::SignatureState::Valid &&
        PublisherTrust::OfRunningProgram().Accepts(path) && worker.IsNewerThanBest(version) &&
        PolicyAllowsHandOver(path, version)) {
        worker.ConsiderCandidate(path, version);
    }
    return true;
}

WorkerState* SuccessorFor(Worker& worker)
{
    switch (worker.GetMode()) {
    case INSTALL:
    case UPDATE:
        if (worker.HasOption(L"nocheck")) return StateCreatingCompleteSequence::Instance();
        return StateSeekingSelfUpdate::Instance();
    case DOWNLOAD:
    case CHECK: return StateSeekingSelfUpdate::Instance();
    case UNINSTALL: return StatePerformingUACCheck::Instance();
    case APPLIANCE: return StateCreatingCompleteSequence::Instance();
    default: osh::LogError("Invalid mode found in StateInitializing"); return StateFailed::Instance();
    }
}

}  // namespace

StateInitializing StateInitializing::instance_;

StateInitializing::StateInitializing() : WorkerState(L"Initializing") {}

StateInitializing* StateInitializing::Instance() { return &instance_; }

WorkerState* StateInitializing::Exec(Worker& worker)
{
    EndStaleCopies(worker);
    ConsiderRunningProgram(worker);
    if (!ConsiderSetupFilesCopy(worker)) return StateFailed::Instance();
    return SuccessorFor(worker);
}

}  // namespace ziz
