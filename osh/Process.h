#pragma once
// Child processes (without a console window) and the shell's verbs.
#include <windows.h>

#include <string>

namespace osh {

// Starts a command line and waits for it without limit; returns its exit code unchanged.
// An empty directory means the parent's working directory. Throws win::exception
// ("CreateProcess(\"<command line>\")", "GetExitCodeProcess()", "WaitForSingleObject()",
// "CloseHandle(hProcess)", "CloseHandle(hThread)") or std::runtime_error for odd waits.
DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& directory);

// As RunAndWait, but answers whether the process was started; waits when asked to.
bool StartProgram(const std::wstring& commandLine, const std::wstring& directory, bool wait);

// ShellExecuteExW with a normal window; parameters and directory may be null. Does not wait.
bool ShellRun(HWND window, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
              const wchar_t* directory);

// ShellRun with the verb "runas": the consent prompt, then an elevated process.
bool RunElevated(HWND window, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory);

// Test seam: a refused consent prompt cannot be provoked under Wine, where runas never
// asks. Tests replace the call of RunElevated and put the previous function back; null
// restores the shell call. Returns the previous function.
using RunElevatedFunction = bool (*)(HWND window, const wchar_t* file, const wchar_t* parameters,
                                     const wchar_t* directory);
RunElevatedFunction SetRunElevatedFunction(RunElevatedFunction function);

}  // namespace osh
