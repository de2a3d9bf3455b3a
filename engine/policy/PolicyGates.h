#pragma once
// Where the run's policies stop it: a bootstrapper another than the running one taking
// over the run (SelfUpdate, TargetVersionPrefix), and the running one's release being
// fetched or installed outside TargetVersionPrefix. Each refusal says so in the log.
#include "engine/Worker.h"
#include "engine/WorkerState.h"

#include <string>

namespace ziz {

// True when the bootstrapper of version at where (a path or address) may become a
// candidate to take over the run; else logs "Bootstrapper VERSION (WHERE) is not handed
// over to: REASON".
bool PolicyAllowsHandOver(const std::wstring& where, const std::wstring& version);

// Whether a run which would now fetch or install this bootstrapper's own release stops here,
// with next the state that follows: a machine whose installed release is ahead of
// TargetVersionPrefix is left alone (up to date, with a line saying so, next null); this
// release outside it fails the run with the reason (next StateFailed).
bool TargetVersionStops(Worker& worker, WorkerState*& next);

}  // namespace ziz
