#pragma once
#include "engine/WorkerState.h"

namespace ziz {

class StateProcessingDownloads : public WorkerState {
public:
    static StateProcessingDownloads* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateProcessingDownloads();
    static StateProcessingDownloads instance_;
};

}  // namespace ziz
