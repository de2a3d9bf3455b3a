#pragma once
// The running processes and their top-level windows, for asking programs to close.
#include <windows.h>

#include <functional>
#include <string>

namespace ziz {

// Calls visit with the id of every process in a snapshot of the system. Throws
// win::exception "CreateToolhelp32Snapshot", "Process32First" or "Process32Next" when the
// list cannot be read; the end of the list is no failure.
void ForEachProcess(const std::function<void(DWORD processId)>& visit);

// The drive-letter path of a process's image; throws win::exception "OpenProcess" or
// "GetProcessImageFileName", or std::runtime_error "Device path does not map to DOS path.".
std::wstring ProcessImagePath(DWORD processId);

// How long one window may take to handle WM_CLOSE before it counts as hung.
constexpr UINT kCloseWindowTimeoutMs = 5000;

// Sends WM_CLOSE to every top-level window of the process, from the top of the Z order
// down, and waits for each window to handle it, at most timeoutMs per window: a hung
// window is skipped with a warning naming processName, so it cannot block the caller, and
// the process's remaining windows with it (one wait per hung process).
void CloseProcessWindows(DWORD processId, const std::wstring& processName, UINT timeoutMs = kCloseWindowTimeoutMs);

}  // namespace ziz
