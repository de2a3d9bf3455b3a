#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateCreatingCompleteSequence : public WorkerState {
public:
    static StateCreatingCompleteSequence* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateCreatingCompleteSequence();
    static StateCreatingCompleteSequence instance_;
};

}  // namespace ziz
