#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StatePerformingUACCheck : public WorkerState {
public:
    static StatePerformingUACCheck* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StatePerformingUACCheck();
    static StatePerformingUACCheck instance_;
};

}  // namespace ziz
