#include "engine/RunLoop.h"

namespace ziz {

namespace {

bool IsSignalled(HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }

}  // namespace

void RunStateMachine(Worker& worker, HANDLE shutdownEvent)
{
    RunStatesFrom(GetInitialState(worker), worker, shutdownEvent);
}

void RunStatesFrom(WorkerState* first, Worker& worker, HANDLE shutdownEvent)
{
    WorkerState* state = first;
    while (state != nullptr && !IsSignalled(shutdownEvent)) state = state->RunState(worker);
}

}  // namespace ziz
