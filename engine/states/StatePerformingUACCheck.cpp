#include "engine/states/StatePerformingUACCheck.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StatePerformingUACCheck StatePerformingUACCheck::instance_;

StatePerformingUACCheck::StatePerformingUACCheck() : WorkerState(L"PerformingUACCheck") {}

StatePerformingUACCheck* StatePerformingUACCheck::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StatePerformingUACCheck::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
