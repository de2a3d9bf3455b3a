#include "osh/ProcessTermination.h"

#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/ScopedHandle.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <exception>
#include <map>

namespace osh {

namespace {

ULONGLONG CreationTimeOf(DWORD id)
{
    ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!process || !GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return 0;
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
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

bool TerminateIfStale(DWORD id, const std::wstring& directory, const std::vector<std::wstring>& names)
{
    ScopedHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, id));
    if (!process) return false;
    const std::wstring path = ImagePath(process.get());
    if (path.empty() || !IsStaleCopy(path, directory, names)) return false;
    // A stale copy ended here did not do its work; its caller must not read success.
    if (!TerminateProcess(process.get(), static_cast<UINT>(-1))) {
        const DWORD error = GetLastError();
        LogWarning(L"Could not end stale copy " + path + L" (process " + std::to_wstring(id) + L"), error " +
                   std::to_wstring(error));
        return false;
    }
    LogInformation(L"Ended stale copy " + path + L" (process " + std::to_wstring(id) + L")");
    return true;
}

}  // namespace

std::vector<ProcessEntry> RunningProcesses()
{
    std::vector<ProcessEntry> processes;
    ScopedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return processes;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry)) return processes;
    do {
        ProcessEntry process;
        process.id = entry.th32ProcessID;
        process.parentId = entry.th32ParentProcessID;
        process.creationTime = CreationTimeOf(entry.th32ProcessID);
        processes.push_back(process);
    } while (Process32NextW(snapshot.get(), &entry));
    return processes;
}

std::set<DWORD> ParentChain(DWORD self, const std::vector<ProcessEntry>& processes)
{
    std::map<DWORD, ProcessEntry> byId;
    for (const ProcessEntry& process : processes) byId[process.id] = process;
    std::set<DWORD> chain;
    auto child = byId.find(self);
    while (child != byId.end()) {
        const DWORD parentId = child->second.parentId;
        auto parent = byId.find(parentId);
        if (parentId == 0 || parent == byId.end() || chain.count(parentId) != 0 || parentId == self) break;
        const bool bothKnown = parent->second.creationTime != 0 && child->second.creationTime != 0;
        if (bothKnown && parent->second.creationTime > child->second.creationTime) break;
        chain.insert(parentId);
        child = parent;
    }
    return chain;
}

bool IsStaleCopy(const std::wstring& imagePath, const std::wstring& directory, const std::vector<std::wstring>& names)
{
    const size_t slash = imagePath.rfind(L'\\');
    if (slash == std::wstring::npos || directory.empty()) return false;
    if (!SamePath(imagePath.substr(0, slash + 1), AppendBackslash(directory))) return false;
    const std::wstring name = imagePath.substr(slash + 1);
    for (const std::wstring& candidate : names) {
        if (!candidate.empty() && SamePath(name, candidate)) return true;
    }
    return false;
}

int TerminateStaleCopies(const std::wstring& directory, const std::vector<std::wstring>& names)
{
    const DWORD self = GetCurrentProcessId();
    const std::vector<ProcessEntry> processes = RunningProcesses();
    const std::set<DWORD> callers = ParentChain(self, processes);
    int terminated = 0;
    for (const ProcessEntry& process : processes) {
        if (process.id == self || callers.count(process.id) != 0) continue;
        if (TerminateIfStale(process.id, directory, names)) ++terminated;
    }
    return terminated;
}

}  // namespace osh
