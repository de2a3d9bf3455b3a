#pragma once
// The process entry's work: the log, the token, the strings, the window class, the
// progress window with its engine thread, the message loop and the orderly stop.
#include <windows.h>

#include "app/RunEnd.h"
#include "engine/InstallMode.h"

#include <string>
#include <vector>

namespace app {

// The command line as a fresh list, program path first, nothing trimmed or removed.
std::vector<std::wstring> ReadCommandLine();

struct StartSwitches {
    bool Silent = false;       // "/silent": no window, no message boxes
    bool AllowServer = false;  // "/server": run on a server edition as well
    bool Unattended = false;   // "/norestart": no box, no restart question, no restart
    std::wstring ResultPath;   // "/result=PATH": where the run's result goes
    std::wstring HandBackId;   // "/handback=ID": started by another process of the run, which writes the result
};

// Only the exact words count, in any case; every element, the program path included,
// takes part in the comparison. "/result=" counts with a non-empty path (the first one).
StartSwitches ReadStartSwitches(const std::vector<std::wstring>& arguments);

// True on a server edition, and when the system cannot be described or classified.
// `description` receives the system's description when it was obtained.
bool IsServerOrUnknown(std::wstring& description);

enum class WindowStart { Started, RefusedServer, NoWindow };

// Window set-up: refuses a server edition in an interactive run, creates the progress
// window, shows it when interactive and starts the engine thread (its handle goes to
// Shell().WorkerThread). NoWindow (logged) when the window cannot be created, for example
// without a desktop.
WindowStart SetUpWindow(HINSTANCE instance, int showCommand);

// Ends a run whose command line holds a switch the program does not know: a log line and,
// when someone is at the screen, a box naming it and listing the known ones.
void RefuseUnknownSwitch(const std::wstring& element);

// Ends a run whose "/result=" cannot be written (CheckResultPath): a log line and, when
// someone is at the screen, a box with it.
void RefuseResultPath(const std::string& refusal);

// The end of every run: the facts a started process handed back, the hand-back to the
// process that started this one or else the caller's result file, the last log line, and
// the removal of the run's temporary folders. Returns exitCode.
int EndRun(int exitCode, const StartSwitches& switches, ziz::InstallMode commandLineMode,
           RunEnding ending = RunEnding::Reported);

// Dispatches messages until WM_QUIT and returns its wParam.
int RunMessageLoop(HACCEL accelerators);

// The whole process entry; returns the process exit code.
int RunProcess(HINSTANCE instance, int showCommand);

}  // namespace app
