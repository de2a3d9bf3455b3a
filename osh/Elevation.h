#pragma once
// The process token's elevation and virtualization, and the reboot after a question.
#include <windows.h>

#include <string>

namespace osh {

// 0 when elevated (or on a Windows before Vista, where `elevated` is left alone), 1 when
// not elevated, E_FAIL when the token cannot be read.
HRESULT QueryElevation(bool* elevated = nullptr);

// Switches UAC file and registry virtualization of this process on or off; returns the
// state before. False without a change on systems that lack it. Throws win::exception or
// std::runtime_error.
bool SetTokenVirtualization(bool enabled);

// Asks (Yes/No) when text or caption is non-empty, enables the shutdown privilege and
// asks the system to restart. True when the system accepted the request.
bool RebootSystem(const std::wstring& text, const std::wstring& caption, HWND owner);

// Test seams. A real restart would end every process of the machine (under Wine, of the
// prefix), and a test process cannot make itself non-elevated; tests replace exactly
// those two calls and put the previous function back. Each setter returns the previous one.
using ExitWindowsFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);
ExitWindowsFunction SetExitWindowsFunction(ExitWindowsFunction function);

using ElevationQueryFunction = HRESULT (*)(bool* elevated);
// Null restores the token query.
ElevationQueryFunction SetElevationQueryFunction(ElevationQueryFunction function);

}  // namespace osh
