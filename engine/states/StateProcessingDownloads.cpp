#include "engine/states/StateProcessingDownloads.h"

#include "engine/states/StageNotAvailable.h"

namespace ziz {

StateProcessingDownloads StateProcessingDownloads::instance_;

StateProcessingDownloads::StateProcessingDownloads() : WorkerState(L"ProcessingDownloads") {}

StateProcessingDownloads* StateProcessingDownloads::Instance() { return &instance_; }

// Not built yet: the run fails honestly instead of skipping the stage.
WorkerState* StateProcessingDownloads::Exec(Worker&) { return StageNotAvailable(*this); }

}  // namespace ziz
