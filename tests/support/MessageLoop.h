#pragma once
// Running a test thread's message loop the way the program's main thread does.
#include <windows.h>

#include <optional>

namespace testenv {

// Dispatches messages until WM_QUIT arrives (its wParam as an int) or the time runs out.
std::optional<int> RunUntilQuit(DWORD timeoutMs = 20000);

// Dispatches what is queued now and what arrives within the given time.
void Pump(DWORD milliseconds);

// Removes everything queued for this thread, WM_QUIT included.
void DrainQueue();

}  // namespace testenv
