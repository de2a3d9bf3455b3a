#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateFailed : public WorkerState {
public:
    static StateFailed* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateFailed();
    static StateFailed instance_;
};

}  // namespace ziz
