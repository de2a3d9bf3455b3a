#pragma once
// File names from install sequence documents end up joined to local directories, and the
// published document comes from the network. Only a bare name may be used that way.
// Free of Windows headers.
#include "sequence/InstallItem.h"

#include <string>

// False for an empty name, a name made only of dots and blanks (".", "..", "..." all
// resolve to a directory), and a name holding a path separator, a drive colon or a
// control character.
bool IsSafeFileName(const std::wstring& name);

// Throws std::runtime_error "Install item has an unsafe file name \"<name>\"" unless the
// item's Filename is safe.
void RequireSafeFileName(const InstallItem& item);
