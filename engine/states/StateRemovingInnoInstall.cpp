#include "engine/states/StateRemovingInnoInstall.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateRemovingInnoInstall StateRemovingInnoInstall::instance_;

StateRemovingInnoInstall::StateRemovingInnoInstall() : WorkerState(L"RemovingInnoInstall") {}

StateRemovingInnoInstall* StateRemovingInnoInstall::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateRemovingInnoInstall::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
