#pragma once
// The file this process runs from, opened at start-up and held until the process ends.
// What the program concludes about its own signature, and the copy of itself it leaves for
// the next logon, are read through this handle, so a file put at the program's path while
// it runs is never what it judges or copies. Nobody may write the held file; readers and
// renames are shared, because a newer run replaces the setup-files copy that a waiting
// caller runs from by renaming it aside.
#include <string>

#include <windows.h>

namespace osh {

struct OwnImage {
    HANDLE file = INVALID_HANDLE_VALUE;  // INVALID_HANDLE_VALUE when it could not be opened
    std::wstring path;                   // the path it was opened by
    std::string failure;                 // why it could not be opened; empty when held
};

// Opens the file on the first call (start-up makes it first of all) and answers the same
// afterwards, from any thread. Never throws.
const OwnImage& HeldOwnImage();

// Copies the held file's bytes into a new file at target (an existing file there counts as a
// failure when failIfExists). True when every byte was written; failures are logged.
bool CopyOwnImage(const std::wstring& target, bool failIfExists);

}  // namespace osh
