#pragma once
// Base of the engine's states. Each state is a process-wide singleton without run data:
// Exec does one stage of the work on the engine and names the next state, or null to end.
#include "engine/Worker.h"

#include <string>

namespace ziz {

class WorkerState {
public:
    explicit WorkerState(const std::wstring& name);
    WorkerState(const WorkerState&) = delete;
    WorkerState& operator=(const WorkerState&) = delete;
    virtual ~WorkerState();

    virtual WorkerState* Exec(Worker& worker) = 0;

    // Runs the state on the engine; returns the next state or null. Exceptions from Exec
    // pass through.
    WorkerState* RunState(Worker& worker);

    const std::wstring Name;
};

// MigrateFiles when "migrate" has a value, else CreateCLID when "clid" has one, else
// Initializing. An empty value counts as absent.
WorkerState* GetInitialState(Worker& worker);

}  // namespace ziz
