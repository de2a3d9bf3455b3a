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
    StatusFailed = 10
};

}  // namespace ziz
