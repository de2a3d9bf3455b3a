#include "engine/states/StateUpdatingAppliance.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateUpdatingAppliance StateUpdatingAppliance::instance_;

StateUpdatingAppliance::StateUpdatingAppliance() : WorkerState(L"UpdatingAppliance") {}

StateUpdatingAppliance* StateUpdatingAppliance::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateUpdatingAppliance::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
