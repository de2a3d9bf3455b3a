#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateRemovingInnoInstall : public WorkerState {
public:
    static StateRemovingInnoInstall* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateRemovingInnoInstall();
    static StateRemovingInnoInstall instance_;
};

}  // namespace ziz
