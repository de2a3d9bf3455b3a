#include "engine/states/StateLoadingSequence.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateLoadingSequence StateLoadingSequence::instance_;

StateLoadingSequence::StateLoadingSequence() : WorkerState(L"LoadingSequence") {}

StateLoadingSequence* StateLoadingSequence::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateLoadingSequence::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
