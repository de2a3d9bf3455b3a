#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateMigrateFiles : public WorkerState {
public:
    static StateMigrateFiles* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateMigrateFiles();
    static StateMigrateFiles instance_;
};

}  // namespace ziz
