#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StatePerformingSoftwareStops : public WorkerState {
public:
    static StatePerformingSoftwareStops* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StatePerformingSoftwareStops();
    static StatePerformingSoftwareStops instance_;
};

}  // namespace ziz
