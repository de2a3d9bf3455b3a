#include "engine/states/StatePerformingInstalls.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StatePerformingInstalls StatePerformingInstalls::instance_;

StatePerformingInstalls::StatePerformingInstalls() : WorkerState(L"PerformingInstalls") {}

StatePerformingInstalls* StatePerformingInstalls::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StatePerformingInstalls::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
