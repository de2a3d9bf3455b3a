#include "engine/HandOver.h"

#include "engine/CommandLine.h"
#include "engine/ElevatedWorkFolder.h"
#include "engine/HandBack.h"
#include "engine/PublisherTrust.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Process.h"

#include <exception>

namespace ziz {

void AwaitHandedOver(Worker& worker, HANDLE process, const std::wstring& program, bool startedElevated)
{
    worker.Notify(StatusHandingOver);
    const std::wstring started = L"Started " + program + L" (process " + std::to_wstring(GetProcessId(process)) + L")";
    osh::LogInformation(started + L", waiting for it to end");
    DWORD exitCode = 0;
    try {
        // The started process writes its lines into the same log meanwhile.
        const osh::LogFileLoan loan;
        exitCode = osh::WaitForExitCode(process);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        osh::LogError(L"Could not wait for " + program);
        worker.Notify(StatusFailed);
        return;
    }
    // Shown signed: our own codes are 0, 1 and -1.
    const int code = static_cast<int>(exitCode);
    osh::LogInformation(program + L" ended with exit code " + std::to_wstring(code));
    worker.Report().SetHandedOver(code, HandBackFile(HandBackId(), startedElevated || IsElevatedRun()));
    worker.Notify(StatusHandedOver, code);
}

std::vector<std::wstring> HandOverArguments(Worker& worker)
{
    std::vector<std::wstring> arguments;
    worker.GetArguments(arguments);
    return ArgumentsForHandOver(arguments, HandBackId());
}

bool RecheckHeldBootstrapper(Worker& worker, const HeldComponent& held)
{
    if (!held.IsHeld()) {
        osh::LogWarning(L"Bootstrapper " + held.Path() + L" cannot be held for its start");
        return false;
    }
    InstallSequence items;
    worker.GetItems(items);
    for (const InstallItem& item : items) {
        if (!item.LocalPath.empty() && osh::SamePath(item.LocalPath, held.Path()) && !held.Verify(worker, item))
            return false;
    }
    return PublisherTrust::OfRunningProgram().Accepts(held.Handle(), held.Path());
}

}  // namespace ziz
