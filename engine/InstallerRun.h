#pragma once
// Runs an installer or uninstaller command and reads its exit code, trying again while
// another installation holds the system's installer (see InstallerExitCode).
#include "engine/InstallerExitCode.h"

#include <string>

namespace ziz {

struct InstallerOutcome {
    unsigned long exitCode = 0;
    // Never Busy: a command still busy when the retries are used up counts as Failed.
    InstallerResult result = InstallerResult::Failed;
};

// Runs the command without a window in the directory and waits for it. Throws what
// osh::RunAndWait throws when the command cannot be started.
InstallerOutcome RunInstaller(const std::wstring& command, const std::wstring& directory);

// The text of an exception of RunInstaller as one line: system messages end in a line break.
std::string OneLine(std::string text);

// Test seam: the wait between retries, so tests need not wait minutes. Null restores the
// real wait; returns the previous function.
using InstallerSleepFunction = void (*)(unsigned long milliseconds);
InstallerSleepFunction SetInstallerSleepFunction(InstallerSleepFunction function);

}  // namespace ziz
