#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StatePerformingInstalls : public WorkerState {
public:
    static StatePerformingInstalls* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StatePerformingInstalls();
    static StatePerformingInstalls instance_;
};

}  // namespace ziz
