#pragma once
// The facts the shell needs at the run's end, after the engine object is gone: the engine's
// mode, last status and run report, copied out by the engine thread before it deletes the
// engine, and the first error line the setup log saw. Guarded, so the main thread may read
// them while the engine thread still runs (a failure box does not wait for ever).
#include "engine/EngineStatus.h"
#include "engine/InstallMode.h"
#include "engine/RunReport.h"

#include <string>

namespace app {

struct EngineSummary {
    bool ran = false;  // the engine reached the state machine
    ziz::InstallMode mode = ziz::INVALID;
    ziz::EngineStatus lastStatus = ziz::StatusFailed;
    ziz::RunReport report;
};

void PublishEngineSummary(const EngineSummary& summary);
EngineSummary ReadEngineSummary();

// Kept by the log's error watch (any thread). The first error line of a run names the
// cause; the later ones are its consequences (the failure state always logs one last).
void NoteLoggedError(const std::string& text);
std::string FirstLoggedError();

// Forgets both (tests).
void ResetRunSummary();

// The one line that explains a failure: the reason a state gave, else the first error
// line of the log, else a plain statement that none was recorded.
std::string FailureReasonOf(const EngineSummary& summary, const std::string& firstError);

}  // namespace app
