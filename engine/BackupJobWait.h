#pragma once
// A backup or restore job of the installed product is never run over: while the product
// marks such a job with its named object, a run that would close the product's programs
// waits for the job to end, up to a bound, and otherwise stops having changed nothing.
#include <windows.h>

#include "engine/Worker.h"

#include <string>

namespace ziz {

enum class JobMark { Running, None, Unknown };

// What opening the job's object by name says: opened, or refused (the object exists, of
// another type or closed to this run), means a job runs; not found means none; any other
// error (a malformed name, say) tells nothing.
JobMark JobMarkFromOpen(bool opened, DWORD error);

// Looks for the object now.
JobMark LookForBackupJob(const std::wstring& objectName);

// The gate before product programs are asked to close. True to go on: no job, an
// unreadable mark (a warning), or the job ended within the bound. False when the bound
// passed (the run is "deferred", its reason recorded) or the run was closed meanwhile;
// cancel (may be null) is the run's shutdown event.
bool WaitForBackupJob(Worker& worker, HANDLE cancel);

}  // namespace ziz
