#include "engine/states/StateCreateCLID.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateCreateCLID StateCreateCLID::instance_;

StateCreateCLID::StateCreateCLID() : WorkerState(L"CreateCLID") {}

StateCreateCLID* StateCreateCLID::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateCreateCLID::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
