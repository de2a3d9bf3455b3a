#include "engine/InstallerRun.h"

#include "osh/Log.h"
#include "osh/Process.h"
#include "osh/SystemPrograms.h"

#include <windows.h>

#include <utility>

namespace ziz {

namespace {

void SystemSleep(unsigned long milliseconds) { Sleep(milliseconds); }

InstallerSleepFunction g_sleep = SystemSleep;

}  // namespace

std::string OneLine(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

InstallerSleepFunction SetInstallerSleepFunction(InstallerSleepFunction function)
{
    return std::exchange(g_sleep, function != nullptr ? function : SystemSleep);
}

InstallerOutcome RunInstaller(const std::wstring& command, const std::wstring& directory)
{
    InstallerOutcome outcome;
    // "msiexec /x {...}" and the like: the system's own, never one found on the search path.
    const std::wstring commandLine = osh::WithSystemProgramPath(command, osh::SystemFolder());
    for (unsigned retry = 0;; ++retry) {
        outcome.exitCode = osh::RunAndWait(commandLine, directory);
        outcome.result = ClassifyInstallerExitCode(outcome.exitCode);
        if (outcome.result != InstallerResult::Busy) return outcome;
        const unsigned long delay = BusyRetryDelayMs(retry);
        if (delay == 0) {
            outcome.result = InstallerResult::Failed;
            return outcome;
        }
        osh::LogWarning("Another installation is running (exit code " + std::to_string(outcome.exitCode) +
                        "), trying again in " + std::to_string(delay / 1000) + " seconds");
        g_sleep(delay);
    }
}

}  // namespace ziz
