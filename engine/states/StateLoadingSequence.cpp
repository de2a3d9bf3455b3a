#include "engine/states/StateLoadingSequence.h"

#include "engine/policy/PolicyGates.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateProcessingDownloads.h"
#include "osh/Log.h"

namespace ziz {

StateLoadingSequence StateLoadingSequence::instance_;

StateLoadingSequence::StateLoadingSequence() : WorkerState(L"LoadingSequence") {}

StateLoadingSequence* StateLoadingSequence::Instance() { return &instance_; }

WorkerState* StateLoadingSequence::Exec(Worker& worker)
{
    // Install runs passed the release pin on their way here (CreatingCompleteSequence).
    WorkerState* stop = nullptr;
    if (worker.GetMode() == DOWNLOAD && TargetVersionStops(worker, stop)) return stop;
    InstallSequence items;
    if (!worker.LoadEmbeddedSequence(items)) {
        osh::LogError("Could not find load sequence");
        return StateFailed::Instance();
    }
    worker.SetItems(items);
    return StateProcessingDownloads::Instance();
}

}  // namespace ziz
