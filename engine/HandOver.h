#pragma once
// Letting another bootstrapper (a newer one, or this one elevated) do the work of the run:
// the window hides, the run waits for that process and ends with its exit code, so that
// whoever started this process learns the real outcome, through any chain of hand-overs.
#include <windows.h>

#include "engine/HeldComponent.h"
#include "engine/Worker.h"

#include <string>
#include <vector>

namespace ziz {

// Waits for process (started from program, elevated or with this process's rights) without
// a time limit: the wait ends when the process ends. Meanwhile that process writes the
// setup log. Then records the hand-over, with the file it hands its facts back in, in the
// run report and notifies StatusHandedOver with the exit code. A wait that fails is logged
// and notified as a failure.
void AwaitHandedOver(Worker& worker, HANDLE process, const std::wstring& program, bool startedElevated = false);

// The arguments a started bootstrapper gets: the run's own, with "/handback=" in place of
// "/result=" (CommandLine.h), the program path first.
std::vector<std::wstring> HandOverArguments(Worker& worker);

// The last check of a bootstrapper about to be started, on the held file, so the file
// started is the file checked: a downloaded one (an item with that LocalPath) must pass its
// item's checks again, and every one must come from this program's publisher. False
// (logged) when the file is not held or fails.
bool RecheckHeldBootstrapper(Worker& worker, const HeldComponent& held);

}  // namespace ziz
