#pragma once
// MD5 digest of a file as 32 lower-case hexadecimal characters.
#include <string>

namespace osh {

// Throws win::exception naming the step that failed (open, crypto context, read, hash).
std::wstring CalculateFileHash(const std::wstring& path);

// The same without throwing: false when any step fails; out is cleared then.
bool CalculateFileHash(const std::wstring& path, std::wstring& out);

}  // namespace osh
