#include "engine/states/StateCreatingCompleteSequence.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateCreatingCompleteSequence StateCreatingCompleteSequence::instance_;

StateCreatingCompleteSequence::StateCreatingCompleteSequence() : WorkerState(L"CreatingCompleteSequence") {}

StateCreatingCompleteSequence* StateCreatingCompleteSequence::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateCreatingCompleteSequence::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
