#pragma once
// The machine-readable result of a run ("/result=PATH") for deployment tools: what the run
// was asked, how it ended and what it did per component, as JSON, written so that a reader
// never sees half a file.
#include "app/ResultJson.h"

#include <string>
#include <vector>

namespace app {

// Judged when the run starts, before anything happens: the full path of what the caller
// gave (a relative path against the current directory), whose folder must exist and take a
// new file, and which must not be a link or a folder. False with the refusal line.
bool CheckResultPath(const std::wstring& given, std::wstring& full, std::string& refusal);

// Writes text to a temporary file in the target's folder and then puts it in the target's
// place (replacing an older result). False, with a warning in the log, when that fails or
// a link has appeared at the path; no temporary file is left behind.
bool WriteResultFile(const std::wstring& path, const std::string& text);

}  // namespace app
