#pragma once
// The machine-readable result of a run ("/result=PATH") for deployment tools: what the run
// was asked, how it ended and what it did per component, as JSON, written so that a reader
// never sees half a file.
#include "app/ResultJson.h"

#include <string>
#include <vector>

namespace app {

// Writes text to a temporary file in the target's folder and then puts it in the target's
// place (replacing an older result). False, with a warning in the log, when that fails;
// no temporary file is left behind.
bool WriteResultFile(const std::wstring& path, const std::string& text);

}  // namespace app
