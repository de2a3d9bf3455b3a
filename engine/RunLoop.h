#pragma once
// The state machine driver that the engine thread runs after the command line was read.
#include <windows.h>

#include "engine/Worker.h"
#include "engine/WorkerState.h"

namespace ziz {

// Walks from the initial state until a state returns null, or until shutdownEvent is
// signalled; the event is polled between states only, so a running state finishes first.
// Exceptions escaping a state end the walk and pass through.
void RunStateMachine(Worker& worker, HANDLE shutdownEvent);

// The same walk from a given state.
void RunStatesFrom(WorkerState* first, Worker& worker, HANDLE shutdownEvent);

}  // namespace ziz
