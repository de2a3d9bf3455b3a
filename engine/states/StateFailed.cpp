#include "engine/states/StateFailed.h"

#include "engine/EngineStatus.h"
#include "osh/Log.h"

namespace ziz {

StateFailed StateFailed::instance_;

StateFailed::StateFailed() : WorkerState(L"Failed") {}

StateFailed* StateFailed::Instance() { return &instance_; }

WorkerState* StateFailed::Exec(Worker& worker)
{
    osh::LogError("Software process complete, failure detected.");
    worker.Notify(StatusFailed);
    return nullptr;
}

}  // namespace ziz
