#pragma once
// File names from install sequence documents end up joined to local directories, and the
// published document comes from the network. Only a bare name may be used that way.
// Free of Windows headers.
#include "sequence/InstallItem.h"

#include <string>

// True only for a bare name of ASCII letters, digits, ".", "_", "-" and "+" that does not
// end in a dot (Windows drops trailing dots: "..", "x." name something else) and is not a
// reserved device name ("NUL", "CON", "PRN", "AUX", "COM1"-"COM9", "LPT1"-"LPT9", in any
// case and with any extension, "nul.txt" too). So no separator, drive colon, stream,
// wildcard, blank or control character gets through.
bool IsSafeFileName(const std::wstring& name);

// Throws std::runtime_error "Install item has an unsafe file name \"<name>\"" unless the
// item's Filename is safe.
void RequireSafeFileName(const InstallItem& item);
