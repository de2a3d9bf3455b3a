#include "engine/states/StateFinishingUninstall.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateFinishingUninstall StateFinishingUninstall::instance_;

StateFinishingUninstall::StateFinishingUninstall() : WorkerState(L"FinishingUninstall") {}

StateFinishingUninstall* StateFinishingUninstall::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateFinishingUninstall::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
