#include "engine/states/StatePerformingLocalCopies.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StatePerformingLocalCopies StatePerformingLocalCopies::instance_;

StatePerformingLocalCopies::StatePerformingLocalCopies() : WorkerState(L"PerformingLocalCopies") {}

StatePerformingLocalCopies* StatePerformingLocalCopies::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StatePerformingLocalCopies::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
