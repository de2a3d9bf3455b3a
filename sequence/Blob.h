#pragma once
// A whole install sequence document as bytes, and the two places one comes from.
// The declarations are free of Windows headers; the readers live in their own sources.
#include <string>
#include <vector>

using Blob = std::vector<char>;

// The largest sequence file ReadFileBlob accepts. Real documents are a few kilobytes; a
// file of hundreds of megabytes read whole would exhaust a 32-bit process.
constexpr unsigned long long kMaxSequenceFileSize = 4ull * 1024 * 1024;

// Copies the executable's own data resource `id` (RT_RCDATA, language chosen by the
// system's lookup) into blob, replacing its content; no terminator is added.
// Throws win::exception ("GetModuleHandle(NULL)", "FindResourceEx()", "SizeofResource()")
// or std::runtime_error("Unable to lock resource").
void ReadResourceBlob(unsigned int id, Blob& blob);

// Replaces blob with the bytes of the file at path. Logs "Sequence file open failed" and
// returns false, leaving blob untouched, when the file cannot be read; logs "Sequence file
// too large (N bytes, at most 4194304)" and returns false for a file above
// kMaxSequenceFileSize.
bool ReadFileBlob(const std::wstring& path, Blob& blob);
