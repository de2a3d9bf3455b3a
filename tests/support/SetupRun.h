#pragma once
// Runs of the product executable whose message boxes are answered from the test, with a
// guard that no answer can ever agree to a restart: a restart would end every process of
// the Wine prefix, the test run included.
#include <windows.h>

#include "support/MessageBoxWatcher.h"

#include <functional>
#include <string>
#include <vector>

namespace endtoend {

struct SetupOutcome {
    bool started = false;
    bool ended = false;
    DWORD exitCode = 0;
    std::vector<testenv::SeenBox> boxes;
};

// True when a box asks to restart the computer (its caption or text speaks of restarting).
bool IsRestartQuestion(const testenv::SeenBox& box);

// The button that declines a box: No when it has one, otherwise Cancel.
int DecliningAnswer(const testenv::SeenBox& box);

// Answers the boxes in line with `answers` (boxes beyond them are declined), except that a
// restart question is always declined whatever the list says.
testenv::MessageBoxWatcher::Chooser NeverRestart(std::vector<int> answers);

// Starts Setup.exe with the arguments, answers its boxes with the chooser and waits at most
// timeoutMs; `whileRunning` (optional) is called every few milliseconds with the process
// id until the process ends. A process still running at the end is terminated.
SetupOutcome RunSetupWatched(const std::wstring& arguments, testenv::MessageBoxWatcher::Chooser chooser,
                             const std::function<void(DWORD processId)>& whileRunning = nullptr,
                             DWORD timeoutMs = 240000);

// Same, for a whole command line (a program path, quoted, with its arguments).
SetupOutcome RunCommandWatched(std::wstring commandLine, testenv::MessageBoxWatcher::Chooser chooser,
                               const std::function<void(DWORD processId)>& whileRunning = nullptr,
                               DWORD timeoutMs = 240000);

}  // namespace endtoend
