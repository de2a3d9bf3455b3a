#pragma once
// The changes an elevated run still makes in the setup-files folder, which standard users
// can change too: caching what it fetched, placing "Setup.exe" for later runs, removing
// "appliance.exe". The folder is opened itself, never through a link, and every change is
// made relative to its handle, one plain name at a time (osh/PinnedFolder). A folder that is
// a link or not a plain folder is refused with one line, and nothing is changed there; the
// run goes on from its own work folder.
#include "osh/PinnedFolder.h"

#include <optional>
#include <string>

namespace ziz {

// The setup-files folder opened for changes, made first when `create` is set (with the
// all-users descriptor of osh::CreatePath); none when it is refused (the refusal is logged
// once per run: "Refusing the setup files folder <path>: <why>; nothing is cached there").
std::optional<osh::PinnedFolder> PinSetupFiles(const std::wstring& setupDirectory, bool create = false);

// Puts a copy of the file `source` into the setup files as `name` (the folder is made when
// missing, as PinSetupFiles makes it). A copy in use there (a
// caller may run from "Setup.exe") is renamed aside first. Nothing when source is that very
// file. False, with the reason logged as a warning, when the copy was not placed.
bool CopyIntoSetupFiles(const std::wstring& setupDirectory, const std::wstring& source, const std::wstring& name);

// Before a transfer whose result will be cached as `name`: a copy there that is read-only or
// held open by another program must stop the run, as it would without elevation. Throws
// win::exception "Cannot replace \"<path>\"" with the reason; nothing when the folder is
// refused (nothing will be cached there) or holds no such file.
void RequireReplaceableInSetupFiles(const std::wstring& setupDirectory, const std::wstring& name);

// Removes `name` from the setup files (a link there is removed itself). Failures are logged.
void RemoveFromSetupFiles(const std::wstring& setupDirectory, const std::wstring& name);

// Test seam: forgets that the refusal was logged, so the next refusal is logged again.
void ForgetSetupFilesRefusal();

}  // namespace ziz
