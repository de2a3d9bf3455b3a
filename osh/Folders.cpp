#include "osh/Folders.h"

#include "osh/Exception.h"
#include "osh/Platform.h"
#include "osh/ScopedHandle.h"

#include <stdexcept>

namespace osh {

namespace {

// The identifiers are spelled out so the code does not depend on the SDK's link library.
const GUID kProgramData = {0x62AB5D82, 0xFDC1, 0x4DC3, {0xA9, 0xDD, 0x07, 0x0D, 0x1D, 0x49, 0x5D, 0x97}};
const GUID kProgramFiles = {0x905E63B6, 0xC1BF, 0x494E, {0xB2, 0x9C, 0x65, 0xB7, 0x32, 0xD3, 0xD2, 0x1A}};
const GUID kProgramFilesX86 = {0x7C5A40EF, 0xA0FB, 0x4BFC, {0x87, 0x4A, 0xC0, 0xF2, 0xE0, 0xB9, 0xFA, 0x8E}};
const GUID kProgramFilesX64 = {0x6D809377, 0x6AF0, 0x444B, {0x89, 0x57, 0xA3, 0x77, 0x3F, 0x02, 0x20, 0x0E}};
const GUID kInternetCache = {0x352481E8, 0x33BE, 0x4251, {0xBA, 0x85, 0x60, 0x07, 0xCA, 0xED, 0xCF, 0x9D}};

constexpr DWORD kKnownFolderDontVerifyAlias = 0x1000;  // KF_FLAG_NO_ALIAS
constexpr DWORD kFolderPathDefault = 1;                // SHGFP_TYPE_DEFAULT

struct FolderChoice {
    const GUID* knownFolder;
    int csidl;
};

[[noreturn]] void ThrowInvalidKind() { throw std::runtime_error("Invalid parameter passed to GetFolderPath()"); }

FolderChoice Choice64(int kind)
{
    switch (kind) {
    case 0: return {&kProgramData, 35};
    case 1: return {&kProgramFiles, 38};
    case 2: return {&kProgramFilesX86, 42};
    case 3: return {&kProgramFilesX64, 44};
    case 4: return {&kInternetCache, 32};
    default: ThrowInvalidKind();
    }
}

FolderChoice Choice32(int kind)
{
    switch (kind) {
    case 0: return {&kProgramData, 35};
    case 1:
    case 2: return {&kProgramFiles, 38};
    default: ThrowInvalidKind();
    }
}

// A 32-bit process cannot ask the shell for the 64-bit program files folder (the known
// folder is not supported under WOW64); the system records it in the 64-bit view of the
// registry, as "ProgramW6432Dir" and, in that view, as "ProgramFilesDir".
bool ReadProgramFiles64(std::wstring& out)
{
    ScopedKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_WOW64_64KEY | KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
        return false;
    for (const wchar_t* name : {L"ProgramW6432Dir", L"ProgramFilesDir"}) {
        BYTE buffer[MAX_PATH] = {};
        DWORD size = sizeof(buffer) - sizeof(wchar_t);  // room for a terminator the registry may not have stored
        DWORD type = 0;
        if (RegQueryValueExW(key.get(), name, nullptr, &type, buffer, &size) != ERROR_SUCCESS) continue;
        if (type != REG_SZ && type != REG_EXPAND_SZ) continue;
        out = reinterpret_cast<const wchar_t*>(buffer);
        if (!out.empty()) return true;
    }
    return false;
}

}  // namespace

void GetKnownFolderPath(std::wstring& out, const GUID& folderId)
{
    using GetKnownFolderPathFn = HRESULT(WINAPI*)(const GUID&, DWORD, HANDLE, PWSTR*);
    out.clear();
    HMODULE shell = GetModuleHandleW(L"shell32.dll");
    if (shell == nullptr) throw win::exception(GetLastError(), "GetModuleHandle(\"shell32.dll\")");
    auto entry = reinterpret_cast<GetKnownFolderPathFn>(
        reinterpret_cast<void*>(GetProcAddress(shell, "SHGetKnownFolderPath")));
    if (entry == nullptr) throw win::exception(GetLastError(), "GetProcAddress(\"SHGetKnownFolderPath\")");

    ScopedCoTaskMemory path;
    HRESULT result = entry(folderId, kKnownFolderDontVerifyAlias, nullptr, reinterpret_cast<PWSTR*>(path.receive()));
    if (path) out = static_cast<const wchar_t*>(path.get());
    if (FAILED(result)) throw win::exception(result, "SHGetKnownFolderPath");
}

void GetFolderPathByCsidl(std::wstring& out, int csidl, HWND window, HANDLE token, DWORD flags)
{
    wchar_t buffer[MAX_PATH] = {};
    HRESULT result = SHGetFolderPathW(window, csidl, token, flags, buffer);
    if (FAILED(result)) throw win::exception(result, "SHGetFolderPath");
    out = buffer;
}

void GetFolderPath(std::wstring& out, int kind)
{
    const int bitness = GetNativeBitness();
    const bool native64 = bitness == 64 && !IsWow64();
    FolderChoice choice{};
    if (bitness == 64) {
        choice = Choice64(kind);
        if (kind == FolderProgramFiles64 && !native64 && ReadProgramFiles64(out)) return;
    } else {
        choice = Choice32(kind);
    }
    try {
        GetKnownFolderPath(out, *choice.knownFolder);
    } catch (const std::exception&) {
        // Before Vista there is no known-folder entry point; the older call still answers.
        GetFolderPathByCsidl(out, choice.csidl, nullptr, nullptr, kFolderPathDefault);
    }
}

}  // namespace osh
