#include "engine/states/StageNotAvailable.h"

#include "engine/states/StateFailed.h"
#include "osh/Log.h"

namespace ziz {

WorkerState* StageNotAvailable(const WorkerState& state)
{
    osh::LogError(L"Stage " + state.Name + L" is not available in this build");
    return StateFailed::Instance();
}

}  // namespace ziz
