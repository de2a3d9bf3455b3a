#pragma once
// The version text of a file, as the engine compares it with an item's Version.
#include <string>

namespace ziz {

// Tries, in this order: the FileVersion text of the first translation (as stored), the
// fixed file information as "a.b.c.d", the FileVersion text of US English / Unicode.
// False with version empty when the file has none of them.
bool ReadFileVersion(std::wstring& version, const std::wstring& path);

}  // namespace ziz
