#include "engine/states/StateChoosingBootstrapper.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateChoosingBootstrapper StateChoosingBootstrapper::instance_;

StateChoosingBootstrapper::StateChoosingBootstrapper() : WorkerState(L"ChoosingBootstrapper") {}

StateChoosingBootstrapper* StateChoosingBootstrapper::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateChoosingBootstrapper::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
