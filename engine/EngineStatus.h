#pragma once
// What the engine tells the progress window through Notify. 0 and 1 are valid values that
// post nothing.

namespace ziz {

enum EngineStatus : int {
    StatusChecking = 2,
    StatusDownloading = 3,
    StatusInstalling = 4,
    StatusUninstalling = 5,
    StatusRestarting = 6,
    StatusCompleting = 7,
    StatusSucceeded = 8,
    StatusUpToDate = 9,
    StatusFailed = 10,
    // The run started another bootstrapper (newer, or elevated) and waits for it: the
    // window hides. Posts WM_ENGINE_HIDE.
    StatusHandingOver = 11,
    // That process ended; a carries its exit code, which becomes this process's exit
    // code. Posts WM_ENGINE_EXIT.
    StatusHandedOver = 12,
    // The run waits for another setup (text 429) or for a backup or restore job of the
    // product (text 430); each posts WM_ENGINE_STATUS with its text.
    StatusWaitingForSetup = 13,
    StatusWaitingForBackup = 14
};

// How a successful outcome stands with a restart.
enum RestartNeed : int {
    RestartNone = 0,
    // A component asked for a restart: ask the user (never restart unasked).
    RestartAsk = 1,
    // The user already agreed to the restart (older generation removed): restart unasked.
    RestartAgreed = 2
};

// The outcome code in the high byte of WM_ENGINE_DONE's wParam.
enum EngineOutcomeCode : int {
    OutcomeFailed = 0,
    OutcomeSucceeded = 1,
    // Success and a restart is needed (asked for), or the software is up to date.
    OutcomeRestart = 2,
    // Success and the user already agreed to restart: restart without a question.
    OutcomeRestartAgreed = 3
};

}  // namespace ziz
