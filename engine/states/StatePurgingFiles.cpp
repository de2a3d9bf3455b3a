#include "engine/states/StatePurgingFiles.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StatePurgingFiles StatePurgingFiles::instance_;

StatePurgingFiles::StatePurgingFiles() : WorkerState(L"PurgingFiles") {}

StatePurgingFiles* StatePurgingFiles::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StatePurgingFiles::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
