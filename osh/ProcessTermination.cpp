#include "osh/ProcessTermination.h"

#include "osh/FileSystem.h"
#include "osh/ScopedHandle.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <exception>
#include <vector>

namespace osh {

namespace {

std::vector<DWORD> RunningProcessIds()
{
    std::vector<DWORD> ids;
    ScopedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return ids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return ids;
    do {
        ids.push_back(entry.th32ProcessID);
    } while (Process32NextW(snapshot.get(), &entry));
    return ids;
}

// The image path of the process in drive-letter form; empty when it cannot be told.
std::wstring ImagePath(HANDLE process)
{
    wchar_t devicePath[MAX_PATH * 4];
    const DWORD length = GetProcessImageFileNameW(process, devicePath, ARRAYSIZE(devicePath));
    if (length == 0) return std::wstring();
    std::wstring dosPath;
    try {
        if (!DevicePathToDosPath(std::wstring(devicePath, length), dosPath)) return std::wstring();
    } catch (const std::exception&) {
        return std::wstring();
    }
    return dosPath;
}

bool TerminateIfMatching(DWORD id, const std::wstring& fragment)
{
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id));
    if (!process) return false;
    const std::wstring path = ImagePath(process.get());
    if (path.find(fragment) == std::wstring::npos) return false;
    return TerminateProcess(process.get(), 0) != FALSE;
}

}  // namespace

int TerminateProcessesByPath(const std::wstring& fragment)
{
    const DWORD self = GetCurrentProcessId();
    int terminated = 0;
    for (DWORD id : RunningProcessIds()) {
        if (id == self) continue;
        if (TerminateIfMatching(id, fragment)) ++terminated;
    }
    return terminated;
}

}  // namespace osh
