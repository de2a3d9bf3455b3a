#include "engine/HandOver.h"

#include "osh/Log.h"
#include "osh/Process.h"

#include <exception>

namespace ziz {

void AwaitHandedOver(Worker& worker, HANDLE process, const std::wstring& program)
{
    worker.Notify(StatusHandingOver);
    const std::wstring started = L"Started " + program + L" (process " + std::to_wstring(GetProcessId(process)) + L")";
    osh::LogInformation(started + L", waiting for it to end");
    DWORD exitCode = 0;
    try {
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
    worker.Report().SetHandedOver(code);
    worker.Notify(StatusHandedOver, code);
}

}  // namespace ziz
