#pragma once
#include "engine/WorkerState.h"

#include <string>

namespace ziz {

class StateRemovingBetaInstall : public WorkerState {
public:
    static StateRemovingBetaInstall* Instance();
    WorkerState* Exec(Worker& worker) override;

private:
    StateRemovingBetaInstall();
    // Asks, runs the beta's uninstaller and hands the install to the next logon.
    WorkerState* RemoveBeta(Worker& worker, const std::wstring& betaDir, const std::wstring& uninstaller);
    static StateRemovingBetaInstall instance_;
};

}  // namespace ziz
