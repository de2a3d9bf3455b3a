#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateFinishingInstall : public WorkerState {
public:
    static StateFinishingInstall* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateFinishingInstall();
    static StateFinishingInstall instance_;
};

}  // namespace ziz
