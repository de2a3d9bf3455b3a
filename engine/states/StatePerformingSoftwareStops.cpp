#include "engine/states/StatePerformingSoftwareStops.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StatePerformingSoftwareStops StatePerformingSoftwareStops::instance_;

StatePerformingSoftwareStops::StatePerformingSoftwareStops() : WorkerState(L"PerformingSoftwareStops") {}

StatePerformingSoftwareStops* StatePerformingSoftwareStops::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StatePerformingSoftwareStops::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
