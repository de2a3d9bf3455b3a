#pragma once
// Junctions and symbolic links, which an elevated run must never follow: a standard user
// who can write inside a tree can point a link of it anywhere.
#include <string>

namespace osh {

// True when the entry itself (not what it points to) is a junction, a symbolic link or any
// other reparse point. A missing entry is not one.
bool IsReparsePoint(const std::wstring& path);

// True when the path or any folder on the way to it, from the drive root on, is a reparse
// point; the first such one goes to crossing when it is not null.
bool PathCrossesReparsePoint(const std::wstring& path, std::wstring* crossing = nullptr);

}  // namespace osh
