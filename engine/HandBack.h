#pragma once
// The file through which a process started by another one of the run hands the facts of
// its run back (see "/handback=" in CommandLine.h). An elevated process writes it beside its
// work folder in the system's temporary folder, new and never through a link, readable and
// removable by the standard user who waits for it; a process without elevation writes it
// in the user's temporary folder. The waiting process reads it and removes it.
#include <string>

namespace ziz {

// This process's id for the processes it starts (a fresh GUID, the same for the whole run).
const std::wstring& HandBackId();

// Where a process with the given elevation hands back under id; empty when the folder
// cannot be named.
std::wstring HandBackFile(const std::wstring& id, bool elevatedWriter);

// Writes text to a new file at path; false (logged) when the file exists already or cannot
// be written.
bool WriteHandBackFile(const std::wstring& path, const std::string& text);

// Reads the file at path (never through a link, at most a megabyte) and removes it;
// false when there is none or it cannot be read.
bool TakeHandBackFile(const std::wstring& path, std::string& text);

}  // namespace ziz
