#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateRemovingBetaInstall : public WorkerState {
public:
    static StateRemovingBetaInstall* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateRemovingBetaInstall();
    static StateRemovingBetaInstall instance_;
};

}  // namespace ziz
