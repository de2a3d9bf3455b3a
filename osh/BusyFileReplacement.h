#pragma once
// Replacing a file that a running program may have been started from: such a file cannot
// be written, but it can be renamed, and the program runs on from the renamed file.
#include <string>

namespace osh {

// Copies source over target. When target is in use, renames it aside in its own folder
// ("<target>.<process id>.old"), copies, and deletes the aside file, or, while it is still
// in use, has it removed at the next restart. Every step is logged. False when target
// could not be given source's content; a renamed target is then put back.
bool CopyOverBusyFile(const std::wstring& source, const std::wstring& target);

}  // namespace osh
