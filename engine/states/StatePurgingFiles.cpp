#include "engine/states/StatePurgingFiles.h"

#include "engine/DeleteDirectory.h"
#include "engine/states/StateFinishingUninstall.h"
#include "osh/FileSystem.h"

namespace ziz {

StatePurgingFiles StatePurgingFiles::instance_;

StatePurgingFiles::StatePurgingFiles() : WorkerState(L"PurgingFiles") {}

StatePurgingFiles* StatePurgingFiles::Instance() { return &instance_; }

WorkerState* StatePurgingFiles::Exec(Worker& worker)
{
    // The product's data folder is the one that holds the setup files; what cannot be
    // deleted stays and is logged, the uninstall still finishes.
    std::wstring setupDir;
    if (worker.GetPath(setupDir, evSetup)) DeleteDirectory(osh::AppendBackslash(setupDir) + L"..", false);
    return StateFinishingUninstall::Instance();
}

}  // namespace ziz
