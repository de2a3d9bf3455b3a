#pragma once
// Digests of a file: MD5 and SHA-256 as lower-case hexadecimal text, from one pass.
#include "osh/Digests.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <windows.h>

namespace osh {

// Reads the whole file front to back in large blocks and hands each to consume. Throws
// win::exception naming the step that failed (open, read).
void ReadFileBlocks(const std::wstring& path, const std::function<void(const unsigned char*, std::size_t)>& consume);

// The same over a file already open for reading, from its first byte whatever was read
// before; name only labels the errors. The caller keeps the handle.
void ReadFileBlocks(HANDLE file, const std::wstring& name,
                    const std::function<void(const unsigned char*, std::size_t)>& consume);

// Both digests and the byte count. Throws win::exception naming the step that failed
// (open, read).
FileDigests CalculateFileDigests(const std::wstring& path);

// The same without throwing: false when any step fails; out is reset then.
bool CalculateFileDigests(const std::wstring& path, FileDigests& out);

// Both digests of a file already open for reading, without throwing: the bytes checked are
// the bytes of that open file, whatever its name points to by now.
bool CalculateFileDigests(HANDLE file, const std::wstring& name, FileDigests& out);

// The MD5 digest alone; throws like CalculateFileDigests.
std::wstring CalculateFileHash(const std::wstring& path);

// The same without throwing: false when any step fails; out is cleared then.
bool CalculateFileHash(const std::wstring& path, std::wstring& out);

// The size of the file in bytes, without reading it; false when it cannot be opened.
bool GetFileByteCount(const std::wstring& path, std::uint64_t& bytes);
bool GetFileByteCount(HANDLE file, std::uint64_t& bytes);

}  // namespace osh
