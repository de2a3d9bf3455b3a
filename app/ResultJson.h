#pragma once
// How a run ended and what it did, and the JSON of the result file made of it. Free of
// Windows headers.
#include "engine/RunReport.h"

#include <string>
#include <vector>

namespace app {

struct RunFacts {
    std::string mode;     // "INSTALL" ...
    std::string outcome;  // "succeeded", "failed", "up to date", "handed over", "refused",
                          // "busy", "deferred", "restart pending"
    int exitCode = -1;
    bool restartRequired = false;
    bool handedOver = false;    // another bootstrapper did the work; it writes the result
    std::string failureReason;  // empty unless the run failed
    std::vector<ziz::ComponentRecord> components;
};

// {"mode":..,"outcome":..,"exitCode":..,"restartRequired":..,["failureReason":..,]
//  "components":[{"file":..,"action":..[,"exitCode":..][,"failedCheck":..]}]}, UTF-8.
std::string ResultJson(const RunFacts& facts);

}  // namespace app
