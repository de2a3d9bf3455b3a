#include "engine/states/StateInitializing.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateInitializing StateInitializing::instance_;

StateInitializing::StateInitializing() : WorkerState(L"Initializing") {}

StateInitializing* StateInitializing::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateInitializing::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
