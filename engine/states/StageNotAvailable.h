#pragma once
// The stand-in for a stage that this build does not have yet.
#include "engine/WorkerState.h"

namespace ziz {

// Logs "Stage <name> is not available in this build" at error and answers StateFailed.
WorkerState* StageNotAvailable(const WorkerState& state);

}  // namespace ziz
