#pragma once
// Ending stale running copies of this program, found by where their image lies, without
// ever touching the processes that started the current one (a caller waiting for it).
#include <windows.h>

#include <set>
#include <string>
#include <vector>

namespace osh {

struct ProcessEntry {
    DWORD id = 0;
    DWORD parentId = 0;
    ULONGLONG creationTime = 0;  // FILETIME ticks; 0 when it could not be read
};

// The processes running now (an empty list when they cannot be listed).
std::vector<ProcessEntry> RunningProcesses();

// The processes that started self, its parent, grandparent and so on, as far as the list
// knows them. A parent created after its child is an unrelated process that took over a
// freed id: the chain ends there.
std::set<DWORD> ParentChain(DWORD self, const std::vector<ProcessEntry>& processes);

// True when imagePath lies directly in directory (letter case ignored, a trailing
// backslash on directory allowed) and its file name is one of names (letter case ignored).
bool IsStaleCopy(const std::wstring& imagePath, const std::wstring& directory, const std::vector<std::wstring>& names);

// Terminates (exit code -1: whoever waits for it must not read success) every process whose image IsStaleCopy, except the current one
// and its ParentChain, and logs each with its id and path. Processes that cannot be
// opened for query and termination, or whose path cannot be converted, are skipped; no
// error leaves this function. Returns how many processes were terminated.
int TerminateStaleCopies(const std::wstring& directory, const std::vector<std::wstring>& names);

}  // namespace osh
