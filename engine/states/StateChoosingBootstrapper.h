#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateChoosingBootstrapper : public WorkerState {
public:
    static StateChoosingBootstrapper* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateChoosingBootstrapper();
    static StateChoosingBootstrapper instance_;
};

}  // namespace ziz
