#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateSeekingSelfUpdate : public WorkerState {
public:
    static StateSeekingSelfUpdate* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateSeekingSelfUpdate();
    static StateSeekingSelfUpdate instance_;
};

}  // namespace ziz
