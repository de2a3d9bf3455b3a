#include "osh/SystemDllLoading.h"

#include <delayimp.h>

namespace osh {
namespace {

template <typename Function>
Function KernelFunction(const char* name)
{
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

std::wstring SystemFolderPath(const std::wstring& name)
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return std::wstring(folder, length) + L"\\" + name;
}

bool IsBareFileName(const std::wstring& name)
{
    return !name.empty() && name.find_first_of(L"\\/:") == std::wstring::npos;
}

// The delay-load helper asks this hook before it loads one of the late-bound DLLs
// (cmake/DelayImports.cmake); without it the helper would search the usual way, program
// folder first.
FARPROC WINAPI LoadDelayedDllFromSystemFolder(unsigned notification, PDelayLoadInfo info)
{
    if (notification != dliNotePreLoadLibrary || info == nullptr || info->szDll == nullptr) return nullptr;
    std::wstring name;
    for (const char* c = info->szDll; *c != '\0'; ++c) name.push_back(static_cast<unsigned char>(*c));
    return reinterpret_cast<FARPROC>(LoadSystemDll(name));
}

}  // namespace

bool RestrictDllSearchToSystemFolder() noexcept
{
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto setDefault = KernelFunction<SetDefaultDllDirectoriesFunction>("SetDefaultDllDirectories");
    const bool restricted = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
    SetDllDirectoryW(L"");
    return restricted;
}

HMODULE LoadSystemDll(const std::wstring& name) noexcept
{
    try {
        if (!IsBareFileName(name)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module != nullptr) return module;
        const DWORD error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER) return nullptr;
        // A system without the search flags: name the file in the system folder instead.
        const std::wstring path = SystemFolderPath(name);
        if (path.empty()) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return nullptr;
        }
        return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
}

}  // namespace osh

// The delay-load helper's notification hook (declared by <delayimp.h>).
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = osh::LoadDelayedDllFromSystemFolder;
}
