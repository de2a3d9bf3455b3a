#include "engine/states/StatePerformingUninstalls.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StatePerformingUninstalls StatePerformingUninstalls::instance_;

StatePerformingUninstalls::StatePerformingUninstalls() : WorkerState(L"PerformingUninstalls") {}

StatePerformingUninstalls* StatePerformingUninstalls::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StatePerformingUninstalls::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
