#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StatePurgingFiles : public WorkerState {
public:
    static StatePurgingFiles* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StatePurgingFiles();
    static StatePurgingFiles instance_;
};

}  // namespace ziz
