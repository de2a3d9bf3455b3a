#pragma once
// Junctions and symbolic links, which an elevated run must never follow: a standard user
// who can write inside a tree can point a link of it anywhere.
#include <string>

namespace osh {

// True when attributes (as GetFileAttributes or a directory listing report them) mark a
// junction, a symbolic link or any other reparse point.
bool HasReparseAttribute(unsigned long attributes);

// True when the entry itself (not what it points to) is a junction, a symbolic link or any
// other reparse point. A missing entry is not one.
bool IsReparsePoint(const std::wstring& path);

// True when the path or any folder on the way to it, from the drive root on, is a reparse
// point; the first such one goes to crossing when it is not null.
bool PathCrossesReparsePoint(const std::wstring& path, std::wstring* crossing = nullptr);

// Removes the link itself, never what it points to: opened as the link
// (FILE_FLAG_OPEN_REPARSE_POINT) and deleted through that handle once the handle is known
// to be the link. Its attributes are left as they are (changing them could reach the
// target). Throws std::runtime_error "RemoveLink: 'path' is not a link" for anything else,
// "RemoveLink: 'path' could not be opened as a link; left in place" when the system opened
// the target instead (Wine 8 does), or win::exception naming the failing call and path.
void RemoveLink(const std::wstring& path);

}  // namespace osh
