#include "engine/states/StateLoadingSequence.h"

#include "engine/states/StateFailed.h"
#include "engine/states/StateProcessingDownloads.h"
#include "osh/Log.h"

namespace ziz {

StateLoadingSequence StateLoadingSequence::instance_;

StateLoadingSequence::StateLoadingSequence() : WorkerState(L"LoadingSequence") {}

StateLoadingSequence* StateLoadingSequence::Instance() { return &instance_; }

WorkerState* StateLoadingSequence::Exec(Worker& worker)
{
    InstallSequence items;
    if (!worker.LoadEmbeddedSequence(items)) {
        osh::LogError("Could not find load sequence");
        return StateFailed::Instance();
    }
    worker.SetItems(items);
    return StateProcessingDownloads::Instance();
}

}  // namespace ziz
