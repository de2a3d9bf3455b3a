#pragma once
// The copy of the program that the next logon starts after an older generation was removed
// lies alone in an admin-only folder "<Windows>\Temp\Norlo-Restart-<GUID>". The run it
// starts removes that folder when it ends, so such folders do not pile up.
#include <string>

namespace ziz {

// The restart folder program lies directly in, below systemTemp; empty for any other path.
// Letter case aside, as the file system compares.
std::wstring RestartFolderOf(const std::wstring& program, const std::wstring& systemTemp);

// When this process runs from such a copy and is elevated: deletes the copy and its folder,
// or, since the system keeps the file of a running program, has both removed at the next
// restart. Logs what it did; never throws.
void RemoveOwnRestartFolder();

}  // namespace ziz
