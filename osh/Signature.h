#pragma once
// Authenticode trust of a file: an intact signature, embedded or through a system
// catalog. The signer is not examined.
#include <string>

#include <windows.h>

namespace osh {

// True when the file is trusted; false for unsigned, tampered or unreadable files.
bool CheckFileSignature(const std::wstring& path);

// The same for a file already open for reading: the system reads the signed bytes through
// that handle, so the verdict is about the open file, not whatever path names by now. path
// is what the system is told besides (catalog members are looked up by it).
bool CheckFileSignature(HANDLE file, const std::wstring& path);

}  // namespace osh
