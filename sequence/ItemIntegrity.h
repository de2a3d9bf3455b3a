#pragma once
// What an install item promises about its file besides the MD5 digest: a SHA-256 digest
// and a size in bytes. Decisions only; the engine reads the file. Free of Windows headers.
#include "sequence/InstallItem.h"

#include <cstdint>
#include <string>

// A size as the release tool writes it: decimal digits only, no sign or blanks, at most
// 2^64 - 1.
bool ParseItemSize(const std::wstring& text, std::uint64_t& bytes);

// 64 hexadecimal digits, either letter case.
bool IsSha256Text(const std::wstring& text);

// Why the item's Size or Sha256 can never match a file, or empty when both are absent or
// well formed. Such an item fails every verification of its file.
std::string ItemIntegrityDefect(const InstallItem& item);

// Digests compare with ASCII letters folded.
bool DigestsEqual(const std::wstring& expected, const std::wstring& computed);

// The item names no size, or the file has exactly that size. A malformed Size matches
// nothing.
bool SizeMatches(const InstallItem& item, std::uint64_t fileBytes);
