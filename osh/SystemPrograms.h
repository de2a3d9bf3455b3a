#pragma once
// System programs are started by their full path in the system folder: a program of the
// same name planted beside Setup.exe or in a working directory must never run in their
// place, least of all from an elevated run.
#include <string>

namespace osh {

// The system folder ("C:\Windows\System32", or its 32-bit view under WOW64); throws
// win::exception "GetSystemDirectory()" when the system does not say.
std::wstring SystemFolder();

// "<system folder>\<name>".
std::wstring SystemProgramPath(const std::wstring& name);

// The command line that runs commandLine (a script and its arguments, redirections
// included) through the system folder's command processor without its AutoRun commands:
//   "<system folder>\cmd.exe" /d /s /c "<commandLine>"
std::wstring CommandProcessorLine(const std::wstring& commandLine);

// commandLine with a leading system program named without a folder ("msiexec",
// "msiexec.exe", "cmd", "cmd.exe", in any case, quoted or not) replaced by its quoted
// full path in systemFolder; any other command line is returned as it is.
std::wstring WithSystemProgramPath(const std::wstring& commandLine, const std::wstring& systemFolder);

}  // namespace osh
