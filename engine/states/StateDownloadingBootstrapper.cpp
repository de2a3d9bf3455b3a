#include "engine/states/StateDownloadingBootstrapper.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateDownloadingBootstrapper StateDownloadingBootstrapper::instance_;

StateDownloadingBootstrapper::StateDownloadingBootstrapper() : WorkerState(L"DownloadingBootstrapper") {}

StateDownloadingBootstrapper* StateDownloadingBootstrapper::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateDownloadingBootstrapper::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
