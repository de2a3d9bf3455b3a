#pragma once
// The vendor settings of the gates a run passes before it changes anything: how long it
// waits for another setup, which object marks a running backup or restore job, and how
// long it waits for such a job.
#include <windows.h>

#include <string>

namespace ziz {

struct GateSettings {
    ULONGLONG setupWaitMs = 600000;  // "setup.lock.wait.seconds"
    // "product.job.object.name"; empty: no job is looked for. Initialised for a configuration
    // that cannot be read at all.
    std::wstring jobObjectName = L"Global\\Norlo5-BackupJob";
    ULONGLONG jobWaitMs = 3600000;   // "setup.job.wait.seconds"
};

// A setting's text as a bound in milliseconds: a whole number of seconds from 0 to one
// day; anything else (empty, negative, not a number, larger) gives fallbackSeconds.
ULONGLONG WaitBoundMs(const std::string& text, ULONGLONG fallbackSeconds);

// The settings as the vendor configuration (with its override file) has them now, the
// waits of the policies "BusyWaitMinutes" and "JobWaitMinutes" in place of its own.
GateSettings ReadGateSettings();

}  // namespace ziz
