#pragma once
// Ending other running copies of a program, found by where their image lies.
#include <string>

namespace osh {

// Terminates (exit code 0) every process other than the current one whose image path, in
// drive-letter form, contains fragment (case-sensitive). Processes that cannot be opened
// for query and termination, or whose path cannot be converted, are skipped; no error
// leaves this function. Returns how many processes were terminated.
int TerminateProcessesByPath(const std::wstring& fragment);

}  // namespace osh
