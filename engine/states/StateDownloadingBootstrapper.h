#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateDownloadingBootstrapper : public WorkerState {
public:
    static StateDownloadingBootstrapper* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateDownloadingBootstrapper();
    static StateDownloadingBootstrapper instance_;
};

}  // namespace ziz
