#include "engine/states/StateRemovingBetaInstall.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateRemovingBetaInstall StateRemovingBetaInstall::instance_;

StateRemovingBetaInstall::StateRemovingBetaInstall() : WorkerState(L"RemovingBetaInstall") {}

StateRemovingBetaInstall* StateRemovingBetaInstall::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateRemovingBetaInstall::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
