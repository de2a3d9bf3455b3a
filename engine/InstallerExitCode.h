#pragma once
// What an installer's or uninstaller's exit code means, and how long to wait before trying
// again when another installation holds the system's installer. Decisions only; running
// the commands is InstallerRun's. Free of Windows headers.

namespace ziz {

enum class InstallerResult {
    Succeeded,                 // 0
    SucceededRestartRequired,  // 3010, 1641: done, but a restart completes it
    Busy,                      // 1618: another installation is running; try again later
    Failed                     // anything else
};

InstallerResult ClassifyInstallerExitCode(unsigned long exitCode);

// True for the two successful results.
bool IsInstallerSuccess(InstallerResult result);

// Milliseconds to wait before retry number `retry` (0 for the first) of a busy installer:
// 5 s, doubling each time, the last wait cut so that all waits together come to at most
// five minutes; 0 when no retry is left.
unsigned long BusyRetryDelayMs(unsigned retry);

}  // namespace ziz
