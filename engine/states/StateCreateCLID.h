#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateCreateCLID : public WorkerState {
public:
    static StateCreateCLID* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateCreateCLID();
    static StateCreateCLID instance_;
};

}  // namespace ziz
