#pragma once
// What the end of a run records besides its last log line: the facts a started process
// handed back, the files that hold the run's log lines, and then either the hand-back to
// the process that started this one or the caller's result file.
#include "app/ResultJson.h"

#include <string>

namespace app {

// Adds the setup log and this process's fallback file (when lines went there) to the
// facts, and the count of lines no file took.
void AddOwnLogFiles(RunFacts& facts);

// Takes in what the started process handed back in file, naming in the log every file
// holding its lines besides the setup log; a missing hand-back is logged and leaves the
// facts as they are.
void TakeHandBack(const std::wstring& file, RunFacts& facts);

// Hands the facts back under id to the process that started this one.
void HandBackFacts(const std::wstring& id, const RunFacts& facts);

}  // namespace app
