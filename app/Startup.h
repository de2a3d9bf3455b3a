#pragma once
// The process entry's work: the log, the token, the strings, the window class, the
// progress window with its engine thread, the message loop and the orderly stop.
#include <windows.h>

#include <string>
#include <vector>

namespace app {

// The command line as a fresh list, program path first, nothing trimmed or removed.
std::vector<std::wstring> ReadCommandLine();

struct StartSwitches {
    bool Silent = false;       // "/silent": no window, no message boxes
    bool AllowServer = false;  // "/server": run on a server edition as well
};

// Only the exact words count, in any case; every element, the program path included,
// takes part in the comparison.
StartSwitches ReadStartSwitches(const std::vector<std::wstring>& arguments);

// True on a server edition, and when the system cannot be described or classified.
// `description` receives the system's description when it was obtained.
bool IsServerOrUnknown(std::wstring& description);

// Window set-up: reads the switches, refuses a server edition in an interactive run,
// creates the progress window, shows it when interactive and starts the engine thread
// (its handle goes to Shell().WorkerThread). False when no window was created.
bool SetUpWindow(HINSTANCE instance, int showCommand);

// Dispatches messages until WM_QUIT and returns its wParam.
int RunMessageLoop(HACCEL accelerators);

// The whole process entry; returns the process exit code.
int RunProcess(HINSTANCE instance, int showCommand);

}  // namespace app
