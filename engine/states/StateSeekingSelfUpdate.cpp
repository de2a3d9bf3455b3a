#include "engine/states/StateSeekingSelfUpdate.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateSeekingSelfUpdate StateSeekingSelfUpdate::instance_;

StateSeekingSelfUpdate::StateSeekingSelfUpdate() : WorkerState(L"SeekingSelfUpdate") {}

StateSeekingSelfUpdate* StateSeekingSelfUpdate::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateSeekingSelfUpdate::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
