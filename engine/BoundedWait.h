#pragma once
// Waiting, with a bound, for something another program holds (another setup's lock, a
// backup or restore job): the decision after each look, and the loop that carries it out.
#include <windows.h>

#include <functional>

namespace ziz {

enum class WaitStep {
    Go,      // free: carry on
    Wait,    // still held, time is left: look again later
    GiveUp,  // still held when the bound has passed
    Stop     // the run is being closed
};

// Closing the run wins; then a free look; then the bound (a zero bound gives up at the
// first held look).
WaitStep DecideWaitStep(bool free, bool cancelled, ULONGLONG waitedMs, ULONGLONG boundMs);

// Looks with isFree, then every pollMs, until DecideWaitStep says anything but Wait;
// beforeFirstPause runs once, when the first look found it held. cancel (may be null) is
// the run's shutdown event; a signal ends the pause at once.
WaitStep WaitBounded(const std::function<bool()>& isFree, ULONGLONG boundMs, HANDLE cancel,
                     const std::function<void()>& beforeFirstPause, DWORD pollMs = 1000);

}  // namespace ziz
