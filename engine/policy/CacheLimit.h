#pragma once
// The policy "CacheLimitMB": after a successful install the setup-files folder keeps what
// the next runs need and gives up the components of earlier releases, oldest first, until
// it fits. The folder is one standard users can change: every removal is made relative to
// its own handle, one plain name at a time, and links are never followed or removed.
#include "engine/Worker.h"
#include "osh/PathCompare.h"

#include <set>
#include <string>

namespace ziz {

// File names, letter case aside as the file system has it.
using NameSet = std::set<std::wstring, osh::PathLess>;

// The names nothing may remove: every component the embedded sequence names, for both
// platforms and the appliance, the items of the run and the bootstrapper's copy. Throws
// what reading the embedded sequence throws.
NameSet NamesInUse(Worker& worker);

// Does nothing without the policy. Every file removed is logged ("Policy CacheLimitMB=N:
// removed <name> (<bytes> bytes) from the setup files"), and a folder that still does not fit
// says so; failures are warnings, never the run's.
void ApplyCacheLimit(Worker& worker);

}  // namespace ziz
