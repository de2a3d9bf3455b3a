#include "engine/ProcessWindows.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <stdexcept>
#include <vector>

namespace ziz {

namespace {

// Both codes mean the walk reached the end of the snapshot.
bool IsEndOfList(DWORD error) { return error == ERROR_NO_MORE_FILES || error == ERROR_NO_MORE_ITEMS; }

// SMTO_ABORTIFHUNG returns at once for a window the system already knows to be hung;
// the time-out bounds one that stops answering while we wait. False when it did not answer.
bool CloseWindowWithin(HWND window, const std::wstring& processName, UINT timeoutMs)
{
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG | SMTO_NORMAL, timeoutMs, &result) != 0)
        return true;
    const DWORD error = GetLastError();
    // A window that went away before it was asked needs no warning.
    if (!IsWindow(window)) return true;
    osh::LogWarning(L"Window of " + processName + L" does not answer the request to close, skipped (" +
                    std::to_wstring(error) + L")");
    return false;
}

}  // namespace

void ForEachProcess(const std::function<void(DWORD processId)>& visit)
{
    osh::ScopedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) throw win::exception(GetLastError(), "CreateToolhelp32Snapshot");
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) {
        const DWORD error = GetLastError();
        if (IsEndOfList(error)) return;
        throw win::exception(error, "Process32First");
    }
    for (;;) {
        visit(entry.th32ProcessID);
        if (!Process32NextW(snapshot.get(), &entry)) {
            const DWORD error = GetLastError();
            if (IsEndOfList(error)) return;
            throw win::exception(error, "Process32Next");
        }
    }
}

std::wstring ProcessImagePath(DWORD processId)
{
    osh::ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    if (!process) throw win::exception(GetLastError(), "OpenProcess");
    std::vector<wchar_t> buffer(MAX_PATH + 1, L'\0');
    const DWORD length = GetProcessImageFileNameW(process.get(), buffer.data(), MAX_PATH);
    if (length == 0) throw win::exception(GetLastError(), "GetProcessImageFileName");
    std::wstring dosPath;
    if (!osh::DevicePathToDosPath(std::wstring(buffer.data(), length), dosPath))
        throw std::runtime_error("Device path does not map to DOS path.");
    return dosPath;
}

void CloseProcessWindows(DWORD processId, const std::wstring& processName, UINT timeoutMs)
{
    HWND window = GetTopWindow(nullptr);
    while (window != nullptr) {
        // The closed window may be gone once SendMessage returns, so step on first.
        const HWND next = GetWindow(window, GW_HWNDNEXT);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        // A process that let one window time out is hung: its other windows (every GUI
        // thread has a hidden one of its own) would only add a wait each.
        if (owner == processId && !CloseWindowWithin(window, processName, timeoutMs)) return;
        window = next;
    }
}

}  // namespace ziz
