#include "engine/EngineMessages.h"

namespace ziz {

namespace {

// Succeeded, UpToDate, Failed per mode INSTALL ... APPLIANCE.
const int kOutcomeIds[6][3] = {
    {408, 408, 413},
    {422, 422, 423},
    {409, 411, 415},
    {410, 411, 416},
    {412, 412, 414},
    {422, 422, 423},
};

WPARAM PackBytes(int low, int high)
{
    return static_cast<WPARAM>((static_cast<unsigned>(high) & 0xFF) * 256 + (static_cast<unsigned>(low) & 0xFF));
}

bool IsProgress(EngineStatus status) { return status >= StatusChecking && status <= StatusCompleting; }

// Texts of the statuses outside the 400 + status rule; 0 for the others.
int WaitingTextId(EngineStatus status)
{
    switch (status) {
    case StatusWaitingForSetup: return 429;
    case StatusWaitingForBackup: return 430;
    default: return 0;
    }
}

bool IsOutcome(EngineStatus status) { return status >= StatusSucceeded && status <= StatusFailed; }

int OutcomeCode(EngineStatus status, bool restartRequired, RestartNeed restart)
{
    if (status == StatusSucceeded) {
        if (restart == RestartAgreed) return OutcomeRestartAgreed;
        return restartRequired || restart == RestartAsk ? OutcomeRestart : OutcomeSucceeded;
    }
    if (status == StatusUpToDate) return OutcomeRestart;
    return OutcomeFailed;
}

}  // namespace

int OutcomeStringId(EngineStatus status, InstallMode mode)
{
    if (!IsOutcome(status) || mode < INSTALL || mode > APPLIANCE) return 0;
    return kOutcomeIds[mode][status - StatusSucceeded];
}

bool ComposeEngineMessage(EngineStatus status, int a, int b, InstallMode mode, bool restartRequired,
                          EngineMessage& out, RestartNeed restart)
{
    if (status == StatusHandingOver) {
        out.message = WM_ENGINE_HIDE;
        out.wParam = 0;
        out.lParam = 0;
        return true;
    }
    if (status == StatusHandedOver) {
        out.message = WM_ENGINE_EXIT;
        out.wParam = static_cast<WPARAM>(static_cast<DWORD>(a));
        out.lParam = mode;
        return true;
    }
    if (IsProgress(status)) {
        // The status text's string id is 400 + the status.
        out.message = WM_ENGINE_STATUS;
        out.wParam = PackBytes(a, b);
        out.lParam = 400 + status;
        return true;
    }
    if (WaitingTextId(status) != 0) {
        out.message = WM_ENGINE_STATUS;
        out.wParam = 0;
        out.lParam = WaitingTextId(status);
        return true;
    }
    const int textId = OutcomeStringId(status, mode);
    if (textId == 0) return false;
    out.message = WM_ENGINE_DONE;
    out.wParam = PackBytes(mode, OutcomeCode(status, restartRequired, restart));
    out.lParam = textId;
    return true;
}

}  // namespace ziz
