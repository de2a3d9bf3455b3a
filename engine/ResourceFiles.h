#pragma once
// Copies the program's embedded files (data resources) out to the file system, where the
// scripts among them can be run.
#include <string>

namespace ziz {

// Writes the running module's RCDATA resource id, language neutral, to path in one write,
// replacing an existing file. Throws win::exception (open, resource look-up, write, and
// "CloseHandle()") or std::runtime_error "Could not write all resource data to file.".
void WriteResourceBytes(unsigned int id, const std::wstring& path);

}  // namespace ziz
