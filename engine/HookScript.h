#pragma once
// The hook script run before every state: it learns the mode, the state and the
// installation directory, and its output is collected in the log directory.
#include "engine/Worker.h"

#include <string>

namespace ziz {

// The file in the log directory that collects the hook's output; also keeps that
// directory from being removed.
std::wstring HookOutputFile(const std::wstring& logDirectory);

// ">>" when the output file exists and was last written (else last accessed, else created)
// on today's date in UTC, so one day's output stays together; ">" otherwise.
std::wstring HookRedirection(const std::wstring& outputFile);

// "<script>" MODE State "<installdir>\" <redirection> "<output file>"
std::wstring HookCommandLine(const std::wstring& script, const std::wstring& modeName, const std::wstring& stateName,
                             const std::wstring& installDirectory, const std::wstring& redirection,
                             const std::wstring& outputFile);

// Runs the hook for the state and waits for it, in the installation directory. Skipped
// when the script or a location is unknown; a hook that cannot run is a logged warning.
void RunHookScript(Worker& worker, const std::wstring& stateName);

}  // namespace ziz
