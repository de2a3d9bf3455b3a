#pragma once
// How a run ended and what it did, and the JSON of the result file made of it. Free of
// Windows headers.
#include "engine/RunReport.h"

#include <string>
#include <utility>
#include <vector>

namespace app {

struct RunFacts {
    std::string mode;     // "INSTALL" ...
    std::string outcome;  // "succeeded", "failed", "cancelled", "up to date", "handed over", "refused",
                          // "busy", "deferred", "restart pending"
    int exitCode = -1;
    bool restartRequired = false;
    bool handedOver = false;    // another bootstrapper did the work and handed its facts back
    std::string failureReason;  // empty unless the run failed
    std::string updateDocument; // the line that accepted or refused the update document; empty when none was read
    std::vector<ziz::ComponentRecord> components;
    std::vector<std::string> logFiles;  // the files holding the run's log lines (UTF-8), the setup log first
    unsigned long logLinesLost = 0;     // lines no file took
    // Name and value (UTF-8) of each administrator's policy in effect.
    std::vector<std::pair<std::string, std::string>> policies;
};

// {"mode":..,"outcome":..,"exitCode":..,"restartRequired":..,["failureReason":..,]
//  ["updateDocument":..,]"components":[{"file":..,"action":..[,"exitCode":..][,"failedCheck":..][,"log":..]}]
//  [,"logFiles":[..]][,"logLinesLost":..][,"policies":{NAME:value,..}]}, UTF-8; the value
//  of a REG_DWORD policy is a JSON number, of the others a string.
std::string ResultJson(const RunFacts& facts);

}  // namespace app
