#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateFinishingUninstall : public WorkerState {
public:
    static StateFinishingUninstall* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateFinishingUninstall();
    static StateFinishingUninstall instance_;
};

}  // namespace ziz
