#include "engine/InstallerExitCode.h"

namespace ziz {

namespace {

const unsigned long kSuccessRebootRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
const unsigned long kSuccessRebootInitiated = 1641;  // ERROR_SUCCESS_REBOOT_INITIATED
const unsigned long kInstallAlreadyRunning = 1618;   // ERROR_INSTALL_ALREADY_RUNNING

const unsigned long kFirstBusyWaitMs = 5000;
const unsigned long kAllBusyWaitsMs = 300000;

}  // namespace

InstallerResult ClassifyInstallerExitCode(unsigned long exitCode)
{
    switch (exitCode) {
    case 0: return InstallerResult::Succeeded;
    case kSuccessRebootRequired:
    case kSuccessRebootInitiated: return InstallerResult::SucceededRestartRequired;
    case kInstallAlreadyRunning: return InstallerResult::Busy;
    default: return InstallerResult::Failed;
    }
}

bool IsInstallerSuccess(InstallerResult result)
{
    return result == InstallerResult::Succeeded || result == InstallerResult::SucceededRestartRequired;
}

unsigned long BusyRetryDelayMs(unsigned retry)
{
    // Waits before this retry: 5 s * (2^retry - 1); beyond a handful the budget is gone anyway.
    if (retry >= 16) return 0;
    const unsigned long waited = kFirstBusyWaitMs * ((1ul << retry) - 1);
    if (waited >= kAllBusyWaitsMs) return 0;
    const unsigned long delay = kFirstBusyWaitMs << retry;
    const unsigned long left = kAllBusyWaitsMs - waited;
    return delay < left ? delay : left;
}

}  // namespace ziz
