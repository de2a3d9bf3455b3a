#pragma once
// The installers' own logs ("[LOG]" in a command) outlive the run: each is kept in the log
// folder as "installers\<component>.<yyyymmdd-hhmmss>.log" and purged by the setup log's
// own rules, per component: older than a month, or beyond the ten newest.
#include "engine/Worker.h"

#include <string>
#include <vector>

namespace ziz {

// Copies the log the installer of component wrote (at written) into the log folder and
// purges that component's older ones. The kept file's path; empty (logged when the
// installer wrote one) when it could not be kept.
std::wstring KeepInstallerLog(Worker& worker, const std::wstring& component, const std::wstring& written);

struct KeptLog {
    std::wstring name;    // "<component>.<yyyymmdd-hhmmss>.log"
    double ageDays = 0;   // since it was last written
};

// Which of one component's kept logs go: those older than 30 days and all but the ten
// newest (by the time in their names).
std::vector<std::wstring> InstallerLogsToPurge(std::vector<KeptLog> logs);

}  // namespace ziz
