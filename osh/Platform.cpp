#include "osh/Platform.h"

namespace osh {

namespace {

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);

IsWow64ProcessFunction ResolveIsWow64Process()
{
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr) return nullptr;
    // Through a generic function pointer: GetProcAddress's own type does not match.
    return reinterpret_cast<IsWow64ProcessFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "IsWow64Process")));
}

// Resolved once, before the entry point; null on systems without the function.
const IsWow64ProcessFunction g_isWow64Process = ResolveIsWow64Process();

}  // namespace

bool IsVistaOrLater()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    if (!GetVersionExW(&info)) return false;
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 5;
}

bool IsWow64()
{
    if (g_isWow64Process == nullptr) return false;
    BOOL wow64 = FALSE;
    if (!g_isWow64Process(GetCurrentProcess(), &wow64)) return false;
    return wow64 != FALSE;
}

int GetNativeBitness()
{
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    const WORD architecture = info.wProcessorArchitecture;
    return architecture == PROCESSOR_ARCHITECTURE_AMD64 || architecture == PROCESSOR_ARCHITECTURE_IA64 ? 64 : 32;
}

}  // namespace osh
