#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StatePerformingUninstalls : public WorkerState {
public:
    static StatePerformingUninstalls* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StatePerformingUninstalls();
    static StatePerformingUninstalls instance_;
};

}  // namespace ziz
