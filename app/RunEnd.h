#pragma once
// The first and the last line every run writes to the setup log, and the facts of the end
// of a run gathered from the window's outcome and the engine's summary.
#include "app/ResultFile.h"
#include "app/RunSummary.h"
#include "app/ShellValues.h"

#include <string>

namespace app {

// "Setup 5.0.1036.11000 started, mode INSTALL, command line: "C:\x\Setup.exe" /silent"
std::string FirstLogLine(const std::wstring& version, ziz::InstallMode mode, const std::wstring& commandLine);

// "Setup ended, mode INSTALL, outcome failed, exit code -1, restart needed no"
std::string LastLogLine(const RunFacts& facts);

// How a run ended besides its outcome message.
enum class RunEnding {
    Reported,  // the outcome the window carried out, or a failure before the work started
    Refused,   // never started its work (a server edition)
    Cancelled  // the window closed before the engine reported an outcome
};

// How the run ended. The engine's mode counts when the engine ran, else the mode the
// command line chose; a failure gets its reason (FailureReasonOf).
RunFacts GatherRunFacts(const HandledOutcome& outcome, const EngineSummary& summary, const std::string& firstError,
                        int exitCode, ziz::InstallMode commandLineMode, RunEnding ending = RunEnding::Reported);

}  // namespace app
