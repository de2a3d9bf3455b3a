#include "engine/RunLoop.h"

#include "engine/WorkerState.h"

namespace ziz {

namespace {

bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

void RunStateMachine(Worker& worker, HANDLE shutdownEvent)
{
    WorkerState* state = GetInitialState(worker);
    while (state != nullptr && !IsSignalled(shutdownEvent)) state = state->RunState(worker);
}

}  // namespace ziz
