#pragma once
// The machine-readable result of a run ("/result=PATH") for deployment tools: what the run
// was asked, how it ended and what it did per component, as JSON, written so that a reader
// never sees half a file.
#include "engine/RunReport.h"

#include <string>
#include <vector>

namespace app {

struct RunFacts {
    std::string mode;     // "INSTALL" ...
    std::string outcome;  // "succeeded", "failed", "up to date", "handed over", "refused"
    int exitCode = -1;
    bool restartRequired = false;
    bool handedOver = false;    // another bootstrapper did the work; it writes the result
    std::string failureReason;  // empty unless the run failed
    std::vector<ziz::ComponentRecord> components;
};

// {"mode":..,"outcome":..,"exitCode":..,"restartRequired":..,["failureReason":..,]
//  "components":[{"file":..,"action":..[,"exitCode":..][,"failedCheck":..]}]}, UTF-8.
std::string ResultJson(const RunFacts& facts);

// Writes text to a temporary file in the target's folder and then puts it in the target's
// place (replacing an older result). False, with a warning in the log, when that fails;
// no temporary file is left behind.
bool WriteResultFile(const std::wstring& path, const std::string& text);

}  // namespace app
