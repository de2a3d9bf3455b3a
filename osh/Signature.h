#pragma once
// Authenticode trust of a file: an intact signature, embedded or through a system
// catalog. The signer is not examined.
#include <string>

namespace osh {

// True when the file is trusted; false for unsigned, tampered or unreadable files.
bool CheckFileSignature(const std::wstring& path);

}  // namespace osh
