#pragma once
// The two private messages the worker posts to the progress window, and how a
// notification becomes one of them.
#include <windows.h>

#include "engine/EngineStatus.h"
#include "engine/InstallMode.h"

#define WM_ENGINE_STATUS (WM_USER + 100)
#define WM_ENGINE_DONE (WM_USER + 101)

namespace ziz {

struct EngineMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

// Fills `out` with the message that a notification posts. False when it posts nothing:
// statuses 0, 1 and out of range, and outcomes in a mode above APPLIANCE.
// a and b keep their low byte only; outcome ids depend on the mode.
bool ComposeEngineMessage(EngineStatus status, int a, int b, InstallMode mode, bool restartRequired,
                          EngineMessage& out);

// String id of the outcome text for a final status in a mode; 0 when nothing is shown.
int OutcomeStringId(EngineStatus status, InstallMode mode);

}  // namespace ziz
