#pragma once
// A restart Windows already waits for is said before the run changes anything: installers
// fail late and obscurely on someone else's pending work. The decisions (which rename
// entries count, what the run does) are tables; the registry look and the question are
// the effects.
#include "engine/Worker.h"

#include <string>
#include <vector>

namespace ziz {

// The paths of "PendingFileRenameOperations" (REG_MULTI_SZ data as it is stored: pairs of
// source and target, each ended by a NUL, an empty target meaning a delete) that lie in
// one of the folders, in their stored order. Sources and targets count alike; the "\??\"
// prefix and a target's leading "!" are not part of the path.
std::vector<std::wstring> RenamesUnder(const std::wstring& data, const std::vector<std::wstring>& folders);

enum class PendingRestartStep {
    Go,        // nothing pending
    Warn,      // a silent run: a warning line, then on
    Ask,       // someone is at the screen: restart first?
    Stop       // "/norestart": the run may not restart, so it stops having changed nothing
};

PendingRestartStep DecidePendingRestart(bool pending, bool interactive, bool unattended);

// Why Windows waits for a restart, one text per cause (empty when it does not): component
// servicing's "RebootPending" key, Windows Update's "RebootRequired" key, and rename
// entries in the folders.
std::vector<std::wstring> PendingRestartCauses(const std::vector<std::wstring>& folders);

// The gate before an elevated install, update or uninstall changes anything. True to go on;
// false when the run ends here ("restart pending" recorded): unattended, or the user
// chose to restart first.
bool PassPendingRestart(Worker& worker);

}  // namespace ziz
