#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateLoadingSequence : public WorkerState {
public:
    static StateLoadingSequence* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateLoadingSequence();
    static StateLoadingSequence instance_;
};

}  // namespace ziz
