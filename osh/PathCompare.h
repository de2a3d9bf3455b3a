#pragma once
// Paths compared as the file system compares names: ordinal, without regard to letter
// case, with the system's own case folding (so non-ASCII letters fold too).
#include <string>

namespace osh {

// Negative, zero or positive as a sorts before, equal to or after b.
int ComparePaths(const std::wstring& a, const std::wstring& b);

// The same path text, letter case aside.
bool SamePath(const std::wstring& a, const std::wstring& b);

// True when path begins with prefix, letter case aside (plain text, no separator rule).
bool PathStartsWith(const std::wstring& path, const std::wstring& prefix);

// True when path lies inside directory: it begins with the directory and goes on after a
// path separator, so "C:\P\Norlo 5 Beta\x.exe" is not inside "C:\P\Norlo 5". An empty
// directory contains nothing; a trailing separator on the directory is allowed.
bool IsPathInside(const std::wstring& path, const std::wstring& directory);

// Ordering for sets and maps keyed by path.
struct PathLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return ComparePaths(a, b) < 0; }
};

}  // namespace osh
