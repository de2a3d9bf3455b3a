#pragma once
// Child processes (without a console window) and the shell's verbs.
#include <windows.h>

#include "osh/ScopedHandle.h"

#include <string>

namespace osh {

// Starts a command line and waits for it without limit; returns its exit code unchanged.
// An empty directory means the parent's working directory. Throws win::exception
// ("CreateProcess(\"<command line>\")", "GetExitCodeProcess()", "WaitForSingleObject()",
// "CloseHandle(hProcess)", "CloseHandle(hThread)") or std::runtime_error for odd waits.
DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& directory);

// As RunAndWait, but answers whether the process was started; waits when asked to.
bool StartProgram(const std::wstring& commandLine, const std::wstring& directory, bool wait);

// As StartProgram without waiting, but hands the process handle to the caller, who waits
// for it. False with the system's error (GetLastError) when it could not be started.
bool StartProcess(const std::wstring& commandLine, const std::wstring& directory, ScopedHandle& process);

// Waits without limit for the process to end and returns its exit code; throws as
// RunAndWait does for the wait and the exit code.
DWORD WaitForExitCode(HANDLE process);

// ShellExecuteExW with a normal window; parameters and directory may be null. Does not wait.
// With a process holder the started process's handle lands there (it may stay empty when
// the shell hands the file to a program that was already running).
bool ShellRun(HWND window, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
              const wchar_t* directory, ScopedHandle* process = nullptr);

// ShellRun with the verb "runas": the consent prompt, then an elevated process.
bool RunElevated(HWND window, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                 ScopedHandle* process = nullptr);

// Test seam: a refused consent prompt cannot be provoked under Wine, where runas never
// asks. Tests replace the call of RunElevated and put the previous function back; null
// restores the shell call. Returns the previous function.
using RunElevatedFunction = bool (*)(HWND window, const wchar_t* file, const wchar_t* parameters,
                                     const wchar_t* directory, ScopedHandle* process);
RunElevatedFunction SetRunElevatedFunction(RunElevatedFunction function);

}  // namespace osh
