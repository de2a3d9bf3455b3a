#pragma once
// The text in which a process started by another one (a newer bootstrapper, or this one
// elevated) hands the facts of its run back, so that only the process the caller started
// writes the result file. Private between the program's own processes; free of Windows headers.
#include "app/ResultJson.h"

#include <string>

namespace app {

// One "name=value" line per fact after a first line naming the format; values escape
// backslash, line breaks and tabs; a component is one line of tab-separated fields.
std::string HandBackText(const RunFacts& facts);

// The facts of a hand-back text; false (facts unchanged) when the text is not one.
bool ReadHandBackText(const std::string& text, RunFacts& facts);

// The facts a started process handed back, taken into those of the process that waited
// for it: its mode, outcome, reason and components; its log files after the waiting
// process's own. The exit code stays the waiting process's (the one its caller receives).
void TakeInHandedBack(const RunFacts& handedBack, RunFacts& facts);

}  // namespace app
