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

bool IsOutcome(EngineStatus status) { return status >= StatusSucceeded && status <= StatusFailed; }

int OutcomeCode(EngineStatus status, bool restartRequired)
{
    if (status == StatusSucceeded) return restartRequired ? 2 : 1;
    if (status == StatusUpToDate) return 2;
    return 0;
}

}  // namespace

int OutcomeStringId(EngineStatus status, InstallMode mode)
{
    if (!IsOutcome(status) || mode < INSTALL || mode > APPLIANCE) return 0;
    return kOutcomeIds[mode][status - StatusSucceeded];
}

bool ComposeEngineMessage(EngineStatus status, int a, int b, InstallMode mode, bool restartRequired,
                          EngineMessage& out)
{
    if (IsProgress(status)) {
        // The status text's string id is 400 + the status.
        out.message = WM_ENGINE_STATUS;
        out.wParam = PackBytes(a, b);
        out.lParam = 400 + status;
        return true;
    }
    const int textId = OutcomeStringId(status, mode);
    if (textId == 0) return false;
    out.message = WM_ENGINE_DONE;
    out.wParam = PackBytes(mode, OutcomeCode(status, restartRequired));
    out.lParam = textId;
    return true;
}

}  // namespace ziz
