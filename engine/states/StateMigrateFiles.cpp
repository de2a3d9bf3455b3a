#include "engine/states/StateMigrateFiles.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateMigrateFiles StateMigrateFiles::instance_;

StateMigrateFiles::StateMigrateFiles() : WorkerState(L"MigrateFiles") {}

StateMigrateFiles* StateMigrateFiles::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateMigrateFiles::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
