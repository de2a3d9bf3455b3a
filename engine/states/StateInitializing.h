#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateInitializing : public WorkerState {
public:
    static StateInitializing* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateInitializing();
    static StateInitializing instance_;
};

}  // namespace ziz
