#pragma once
// Pieces shared by the states that remove older generations of the product: the user's
// consent, the files that must not survive the old uninstaller, and the hand-over of the
// install to the next logon.
#include "engine/Worker.h"
#include "osh/PinnedFolder.h"

#include <optional>
#include <string>

namespace ziz {

// "\"" + text + "\"".
std::wstring Quote(const std::wstring& text);

// directory + "\" (unless present) + name.
std::wstring JoinPath(const std::wstring& directory, const std::wstring& name);

// Every "{0}" becomes product, every "{1}" oldProduct.
std::wstring FillNames(std::wstring text, const std::wstring& product, const std::wstring& oldProduct);

// Shows string firstId, a blank line and string secondId (names filled in) in a box
// without owner, captioned with the product name; returns the button pressed.
int AskUser(unsigned firstId, unsigned secondId, unsigned type, const std::wstring& product,
            const std::wstring& oldProduct);

// The removal question of AskUser (strings 425 and 426, Yes and No). An unattended run
// ("/norestart") shows no box at all: it counts as No, and the failure reason says why.
int AskRemoval(Worker& worker, const std::wstring& product, const std::wstring& oldProduct);

// The named setting ("company", "product"); throws std::runtime_error missingText when
// it is not available.
std::wstring RequireWellKnownValue(const wchar_t* name, const char* missingText);

// The folder, opened one folder at a time from the drive root without following a link,
// for the removals below; empty when a folder on the way is a link or a file (a warning says
// that what lies there, `what`, is left alone and names the link).
std::optional<osh::PinnedFolder> FolderForRemoval(const std::wstring& folder, const std::wstring& what);

// Deletes the entry name of folder; when that fails, logs why and renames it to name +
// ".bak"; both relative to the folder's handle, so a folder swapped for a link meanwhile
// redirects neither. A link of that name goes itself, never what it points to.
void DeleteOrSetAside(const osh::PinnedFolder& folder, const std::wstring& name);

// The same for a file given by its full path: its folder is opened as FolderForRemoval does.
void DeleteOrSetAside(const std::wstring& path);

// Copies the running bootstrapper (the file held since start-up) as "Setup.exe" and answers the copy's path, which the next
// logon starts: an elevated run copies it into a new admin-only folder that outlives it
// (empty, logged, when it cannot); otherwise into the setup-files directory (unless it
// already runs from there). Throws when the locations are unknown.
std::wstring PlaceSetupCopy(Worker& worker);

// Writes "Install " + product = command into the machine's RunOnce key.
void ScheduleAtNextLogon(const std::wstring& product, const std::wstring& command);

}  // namespace ziz
