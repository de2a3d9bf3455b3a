#include "osh/Elevation.h"

#include "osh/Exception.h"
#include "osh/Platform.h"
#include "osh/ScopedHandle.h"

#include <string>
#include <stdexcept>
#include <utility>

namespace osh {

namespace {

ExitWindowsFunction g_exitWindows = &::ExitWindowsEx;
ElevationQueryFunction g_elevationQuery = nullptr;

// Planned, major reason application, minor reason maintenance.
const DWORD kRebootReason = SHTDN_REASON_FLAG_PLANNED | SHTDN_REASON_MAJOR_APPLICATION |
                            SHTDN_REASON_MINOR_MAINTENANCE;

HRESULT QueryTokenElevation(bool* elevated)
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive())) return E_FAIL;
    TOKEN_ELEVATION elevation = {};
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &length)) return E_FAIL;
    const bool isElevated = elevation.TokenIsElevated != 0;
    if (elevated != nullptr) *elevated = isElevated;
    return isElevated ? 0 : 1;
}

bool AskYesNo(const std::wstring& text, const std::wstring& caption, HWND owner)
{
    if (owner != nullptr) SetForegroundWindow(owner);
    return MessageBoxW(owner, text.c_str(), caption.c_str(), MB_YESNO) == IDYES;
}

bool EnableShutdownPrivilege()
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.receive()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &privileges.Privileges[0].Luid)) return false;
    SetLastError(ERROR_SUCCESS);
    AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    // Also catches ERROR_NOT_ALL_ASSIGNED, which comes with a successful return.
    return GetLastError() == ERROR_SUCCESS;
}

std::string InvalidLengthText(DWORD length)
{
    return "GetTokenInformation(TokenVirtualizationEnabled): Invalid length " + std::to_string(length) + " ("
           + std::to_string(sizeof(DWORD)) + " expected)";
}

}  // namespace

HRESULT QueryElevation(bool* elevated)
{
    if (g_elevationQuery != nullptr) return g_elevationQuery(elevated);
    if (!IsVistaOrLater()) return 0;
    return QueryTokenElevation(elevated);
}

bool SetTokenVirtualization(bool enabled)
{
    ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), MAXIMUM_ALLOWED, token.receive()))
        throw win::exception(GetLastError(), "OpenProcessToken()");
    DWORD value = 0;
    DWORD length = 0;
    if (!GetTokenInformation(token.get(), TokenVirtualizationEnabled, &value, sizeof(value), &length)) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER) return false;  // a Windows without the class
        throw win::exception(error, "GetTokenInformation(TokenVirtualizationEnabled)");
    }
    if (length != sizeof(value)) throw std::runtime_error(InvalidLengthText(length));
    const bool current = value != 0;
    if (current != enabled) {
        DWORD requested = enabled ? 1 : 0;
        if (!SetTokenInformation(token.get(), TokenVirtualizationEnabled, &requested, sizeof(requested)))
            throw win::exception(GetLastError(), "SetTokenInformation(TokenVirtualizationEnabled)");
    }
    return current;
}

bool RebootSystem(const std::wstring& text, const std::wstring& caption, HWND owner)
{
    if ((!text.empty() || !caption.empty()) && !AskYesNo(text, caption, owner)) return false;
    if (!EnableShutdownPrivilege()) return false;
    const UINT flags = IsVistaOrLater() ? EWX_REBOOT | EWX_RESTARTAPPS : EWX_REBOOT;
    return g_exitWindows(flags, kRebootReason) != FALSE;
}

ExitWindowsFunction SetExitWindowsFunction(ExitWindowsFunction function)
{
    return std::exchange(g_exitWindows, function != nullptr ? function : &::ExitWindowsEx);
}

ElevationQueryFunction SetElevationQueryFunction(ElevationQueryFunction function)
{
    return std::exchange(g_elevationQuery, function);
}

}  // namespace osh
