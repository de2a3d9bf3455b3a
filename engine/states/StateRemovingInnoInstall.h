#pragma once
#include "engine/WorkerState.h"

#include <string>

namespace ziz {

class StateRemovingInnoInstall : public WorkerState {
public:
    static StateRemovingInnoInstall* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateRemovingInnoInstall();
    // Asks, removes the product found in folder and hands the install to the next logon.
    // next is the state an exception leads to at each point.
    WorkerState* RemoveLegacyProduct(Worker& worker, const std::wstring& oldProduct, const std::wstring& folder,
                                     const std::wstring& parent, WorkerState*& next);
    static StateRemovingInnoInstall instance_;
};

}  // namespace ziz
