#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateUpdatingAppliance : public WorkerState {
public:
    static StateUpdatingAppliance* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateUpdatingAppliance();
    static StateUpdatingAppliance instance_;
};

}  // namespace ziz
