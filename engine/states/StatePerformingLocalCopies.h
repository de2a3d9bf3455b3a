#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StatePerformingLocalCopies : public WorkerState {
public:
    static StatePerformingLocalCopies* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StatePerformingLocalCopies();
    static StatePerformingLocalCopies instance_;
};

}  // namespace ziz
