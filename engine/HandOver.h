#pragma once
// Letting another bootstrapper (a newer one, or this one elevated) do the work of the run:
// the window hides, the run waits for that process and ends with its exit code, so that
// whoever started this process learns the real outcome, through any chain of hand-overs.
#include <windows.h>

#include "engine/Worker.h"

#include <string>

namespace ziz {

// Waits for process (started from program) without a time limit: the wait ends when the
// process ends. Then records the hand-over in the run report and notifies
// StatusHandedOver with the exit code. A wait that fails is logged and notified as a
// failure.
void AwaitHandedOver(Worker& worker, HANDLE process, const std::wstring& program);

}  // namespace ziz
