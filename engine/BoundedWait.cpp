#include "engine/BoundedWait.h"

#include <algorithm>

namespace ziz {

namespace {

// The shutdown event resets when a wait sees it; it is set again, so the run loop sees it too.
bool Signalled(HANDLE event)
{
    if (event == nullptr || WaitForSingleObject(event, 0) != WAIT_OBJECT_0) return false;
    SetEvent(event);
    return true;
}

}  // namespace

WaitStep DecideWaitStep(bool free, bool cancelled, ULONGLONG waitedMs, ULONGLONG boundMs)
{
    if (cancelled) return WaitStep::Stop;
    if (free) return WaitStep::Go;
    return waitedMs >= boundMs ? WaitStep::GiveUp : WaitStep::Wait;
}

WaitStep WaitBounded(const std::function<bool()>& isFree, ULONGLONG boundMs, HANDLE cancel,
                     const std::function<void()>& beforeFirstPause, DWORD pollMs)
{
    const ULONGLONG start = GetTickCount64();
    for (bool first = true;; first = false) {
        const ULONGLONG waited = GetTickCount64() - start;
        const WaitStep step = DecideWaitStep(isFree(), Signalled(cancel), waited, boundMs);
        if (step != WaitStep::Wait) return step;
        if (first && beforeFirstPause) beforeFirstPause();
        const DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(pollMs, boundMs - waited));
        if (cancel != nullptr) {
            if (WaitForSingleObject(cancel, pause) == WAIT_OBJECT_0) SetEvent(cancel);
        } else {
            Sleep(pause);
        }
    }
}

}  // namespace ziz
