#include "engine/states/StateCreatingCompleteSequence.h"

#include "engine/policy/PolicyGates.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingLocalCopies.h"
#include "engine/states/StateProcessingDownloads.h"
#include "osh/Log.h"
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

const unsigned int kEmbeddedSequenceResource = 300;

// Both platforms' components and the appliance program: what a medium for any machine needs.
InstallSequence CompleteSequence()
{
    Blob blob;
    ReadResourceBlob(kEmbeddedSequenceResource, blob);
    InstallSequence complete;
    if (!LoadCompleteSequence(blob, complete)) throw std::runtime_error("Could not load complete sequence from XML");
    return complete;
}

}  // namespace

StateCreatingCompleteSequence StateCreatingCompleteSequence::instance_;

StateCreatingCompleteSequence::StateCreatingCompleteSequence() : WorkerState(L"CreatingCompleteSequence") {}

StateCreatingCompleteSequence* StateCreatingCompleteSequence::Instance() { return &instance_; }

WorkerState* StateCreatingCompleteSequence::Exec(Worker& worker)
{
    WorkerState* stop = nullptr;
    if (TargetVersionStops(worker, stop)) return stop;
    try {
        worker.SetItems(CompleteSequence());
        switch (worker.GetMode()) {
        case INSTALL:
        case UPDATE: return StatePerformingLocalCopies::Instance();
        case APPLIANCE: return StateProcessingDownloads::Instance();
        default: osh::LogError("Invalid mode found in stateCreatingCompleteSequence"); return StateFailed::Instance();
        }
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        return StateFailed::Instance();
    }
}

}  // namespace ziz
