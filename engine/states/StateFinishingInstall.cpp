#include "engine/states/StateFinishingInstall.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateFinishingInstall StateFinishingInstall::instance_;

StateFinishingInstall::StateFinishingInstall() : WorkerState(L"FinishingInstall") {}

StateFinishingInstall* StateFinishingInstall::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateFinishingInstall::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
