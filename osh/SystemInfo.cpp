#include "osh/SystemInfo.h"

#include "osh/Exception.h"
#include "osh/Text.h"

#include <atomic>
#include <cstdio>
#include <stdexcept>
#include <vector>

namespace osh {

namespace {

constexpr WORD kSuiteEnterprise = 0x0002;
constexpr WORD kSuiteDatacenter = 0x0080;
constexpr WORD kSuitePersonal = 0x0200;
constexpr WORD kSuiteBlade = 0x0400;
constexpr WORD kSuiteStorageServer = 0x2000;
constexpr WORD kSuiteComputeServer = 0x4000;
constexpr WORD kSuiteHomeServer = 0x8000;

using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
using GetProductInfoFn = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

template <typename Fn>
Fn Kernel32Entry(const char* name)
{
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

WORD NativeProcessorArchitecture()
{
    SYSTEM_INFO info{};
    auto getNative = Kernel32Entry<GetNativeSystemInfoFn>("GetNativeSystemInfo");
    if (getNative != nullptr)
        getNative(&info);
    else
        GetSystemInfo(&info);
    return info.wProcessorArchitecture;
}

DWORD ProductType(DWORD major, DWORD minor)
{
    DWORD type = 0;
    auto getProductInfo = Kernel32Entry<GetProductInfoFn>("GetProductInfo");
    if (getProductInfo != nullptr) getProductInfo(major, minor, 0, 0, &type);
    return type;
}

const wchar_t* EditionText(DWORD productType)
{
    switch (productType) {
    case 1: return L"Ultimate Edition";
    case 2: return L"Home Basic Edition";
    case 3: return L"Home Premium Edition";
    case 4: return L"Enterprise Edition";
    case 6: return L"Business Edition";
    case 7: return L"Standard Server Edition";
    case 8: return L"Datacenter Server Edition";
    case 9: return L"Small Business Server";
    case 10: return L"Enterprise Server Edition";
    case 11: return L"Starter Edition";
    case 12: return L"Datacenter Server Edition (core installation)";
    case 13: return L"Standard Server Edition (core installation)";
    case 14: return L"Enterprise Server Edition (core installation)";
    case 15: return L"Enterprise Server Edition for Itanium-based Systems";
    case 17: return L"Web Server Edition";
    case 18: return L"Cluster Server Edition";
    case 25: return L"Small Business Server Premium Edition";
    case 48: return L"Professional";
    case 101: return L"Home";
    case 121: return L"Education";
    default: return L"";
    }
}

// Windows 8 and later tell their releases apart by build number only.
std::wstring Family62And63(const OSVERSIONINFOEXW& v)
{
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    if (v.dwMinorVersion == 2) return workstation ? L"Windows 8 " : L"Windows Server 2012 ";
    if (v.dwMinorVersion == 3) return workstation ? L"Windows 8.1 " : L"Windows Server 2012 R2 ";
    return L"";
}

std::wstring Family10(const OSVERSIONINFOEXW& v)
{
    if (v.wProductType == VER_NT_WORKSTATION) return v.dwBuildNumber >= 22000 ? L"Windows 11 " : L"Windows 10 ";
    if (v.dwBuildNumber >= 26100) return L"Windows Server 2025 ";
    if (v.dwBuildNumber >= 20348) return L"Windows Server 2022 ";
    if (v.dwBuildNumber >= 17763) return L"Windows Server 2019 ";
    return L"Windows Server 2016 ";
}

std::wstring DescribeVersion6(const OSVersionData& data)
{
    const OSVERSIONINFOEXW& v = data.version;
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    std::wstring text;
    if (v.dwMinorVersion == 0) text = workstation ? L"Windows Vista " : L"Windows Server 2008 ";
    if (v.dwMinorVersion == 1) text = workstation ? L"Windows 7 " : L"Windows Server 2008 R2 ";
    if (v.dwMinorVersion >= 2) text = Family62And63(v);
    return text + EditionText(data.productType);
}

std::wstring ServerEdition2003(const OSVersionData& data)
{
    const WORD suite = data.version.wSuiteMask;
    switch (data.processorArchitecture) {
    case PROCESSOR_ARCHITECTURE_IA64:
        if (suite & kSuiteDatacenter) return L"Datacenter Edition for Itanium-based Systems";
        if (suite & kSuiteEnterprise) return L"Enterprise Edition for Itanium-based Systems";
        return L"";
    case PROCESSOR_ARCHITECTURE_AMD64:
        if (suite & kSuiteDatacenter) return L"Datacenter x64 Edition";
        if (suite & kSuiteEnterprise) return L"Enterprise x64 Edition";
        return L"Standard x64 Edition";
    default:
        if (suite & kSuiteComputeServer) return L"Compute Cluster Edition";
        if (suite & kSuiteDatacenter) return L"Datacenter Edition";
        if (suite & kSuiteEnterprise) return L"Enterprise Edition";
        if (suite & kSuiteBlade) return L"Web Edition";
        return L"Standard Edition";
    }
}

std::wstring DescribeVersion52(const OSVersionData& data)
{
    const OSVERSIONINFOEXW& v = data.version;
    const bool workstation = v.wProductType == VER_NT_WORKSTATION;
    std::wstring text;
    if (data.serverR2 != 0)
        text = L"Windows Server 2003 R2, ";
    else if (v.wSuiteMask & kSuiteStorageServer)
        text = L"Windows Storage Server 2003, ";
    else if (v.wSuiteMask & kSuiteHomeServer)
        text = L"Windows Home Server, ";
    else if (workstation && data.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64)
        text = L"Windows XP Professional x64 Edition";
    else
        text = L"Windows Server 2003, ";
    if (!workstation) text += ServerEdition2003(data);
    return text;
}

std::wstring DescribeVersion51(const OSVersionData& data)
{
    return std::wstring(L"Windows XP ") +
           ((data.version.wSuiteMask & kSuitePersonal) ? L"Home Edition" : L"Professional");
}

std::wstring DescribeVersion50(const OSVersionData& data)
{
    const OSVERSIONINFOEXW& v = data.version;
    std::wstring text = L"Windows 2000 ";
    if (v.wProductType == VER_NT_WORKSTATION) return text + L"Professional";
    if (v.wSuiteMask & kSuiteDatacenter) return text + L"Datacenter Server";
    if (v.wSuiteMask & kSuiteEnterprise) return text + L"Advanced Server";
    return text + L"Server";
}

std::wstring FamilyAndEdition(const OSVersionData& data)
{
    const OSVERSIONINFOEXW& v = data.version;
    if (v.dwMajorVersion == 10) return Family10(v) + EditionText(data.productType);
    if (v.dwMajorVersion == 6) return DescribeVersion6(data);
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 2) return DescribeVersion52(data);
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 1) return DescribeVersion51(data);
    if (v.dwMajorVersion == 5 && v.dwMinorVersion == 0) return DescribeVersion50(data);
    return L"";
}

// Parts that end in a separator or lack an edition would leave ", " or a double blank
// before what follows; the description keeps single blanks only.
std::wstring Tidy(std::wstring text)
{
    std::wstring tidy;
    for (wchar_t c : text) {
        if (c == L' ' && !tidy.empty() && tidy.back() == L' ') continue;
        tidy += c;
    }
    while (!tidy.empty() && (tidy.back() == L' ' || tidy.back() == L',')) tidy.pop_back();
    return tidy;
}

std::wstring BitnessSuffix(const OSVersionData& data)
{
    if (data.version.dwMajorVersion <= 5) return L"";
    if (data.processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64) return L", 64-bit";
    if (data.processorArchitecture == PROCESSOR_ARCHITECTURE_INTEL) return L", 32-bit";
    return L"";
}

}  // namespace

OSVersionData QueryOSVersionData()
{
    OSVersionData data;
    data.version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXW);
    if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&data.version)))
        throw win::exception(GetLastError(), "GetVersionEx()");
    data.processorArchitecture = NativeProcessorArchitecture();
    if (data.version.dwMajorVersion >= 6)
        data.productType = ProductType(data.version.dwMajorVersion, data.version.dwMinorVersion);
    data.serverR2 = GetSystemMetrics(SM_SERVERR2);
    return data;
}

std::wstring DescribeOSVersion(const OSVersionData& data)
{
    const OSVERSIONINFOEXW& v = data.version;
    if (v.dwPlatformId != VER_PLATFORM_WIN32_NT || v.dwMajorVersion <= 4)
        throw std::runtime_error("Unknown version of Windows");

    std::wstring text = Tidy(L"Microsoft " + FamilyAndEdition(data));
    if (v.szCSDVersion[0] != L'\0') text += std::wstring(L" ") + v.szCSDVersion;

    wchar_t build[80];
    swprintf(build, 80, L" (build %d)", static_cast<int>(v.dwBuildNumber));
    text += build;
    return text + BitnessSuffix(data);
}

std::wstring GetOSDescription() { return DescribeOSVersion(QueryOSVersionData()); }

bool IsServerVersion(const OSVersionData& data)
{
    DescribeOSVersion(data);  // the same refusal of unknown systems as the description
    return data.version.wProductType != VER_NT_WORKSTATION;
}

bool IsServerOS() { return IsServerVersion(QueryOSVersionData()); }

namespace {

std::atomic<ModuleFileNameFunction> g_moduleFileName{&GetModuleFileNameW};

}  // namespace

ModuleFileNameFunction SetModuleFileNameFunction(ModuleFileNameFunction function)
{
    return g_moduleFileName.exchange(function != nullptr ? function : &GetModuleFileNameW);
}

std::wstring ModuleFileName(HMODULE module)
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        DWORD length = g_moduleFileName.load()(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) throw win::exception(GetLastError(), "GetModuleFileName");
        // A full buffer means a cut path: older systems leave it unterminated, newer ones
        // cut one character more to end it with a NUL, and both answer the buffer's size.
        const bool truncated = length >= buffer.size();
        if (!truncated) return std::wstring(buffer.data(), wcsnlen(buffer.data(), length));
        buffer.assign(static_cast<size_t>(length) * 2, L'\0');
    }
}

HMODULE ModuleHandle(const wchar_t* name)
{
    HMODULE module = GetModuleHandleW(name);
    if (module == nullptr) {
        DWORD error = GetLastError();
        throw win::exception(error, name == nullptr ? std::string("GetModuleHandle(NULL)")
                                                    : "GetModuleHandle(\"" + Narrow(name) + "\")");
    }
    return module;
}

namespace {

std::string ResourceIdText(const wchar_t* id)
{
    if (IS_INTRESOURCE(id)) return std::to_string(reinterpret_cast<ULONG_PTR>(id));
    return Narrow(id);
}

std::string HexText(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%x", value);
    return text;
}

}  // namespace

HRSRC FindResourceOrThrow(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language)
{
    HRSRC resource = FindResourceExW(module, type, name, language);
    if (resource == nullptr) {
        DWORD error = GetLastError();
        throw win::exception(error, "FindResourceEx(" + ResourceIdText(type) + "," + ResourceIdText(name) + "," +
                                        HexText(language) + ")");
    }
    return resource;
}

const void* LoadResourceData(HMODULE module, HRSRC resource)
{
    HGLOBAL loaded = LoadResource(module, resource);
    if (loaded == nullptr) throw win::exception(GetLastError(), "LoadResource()");
    const void* data = LockResource(loaded);
    if (data == nullptr) throw std::runtime_error("LockResource() failed");
    return data;
}

DWORD ResourceSize(HMODULE module, HRSRC resource)
{
    DWORD size = SizeofResource(module, resource);
    if (size == 0) throw win::exception(GetLastError(), "SizeofResource()");
    return size;
}

std::wstring LoadStringResource(UINT id, HMODULE module, bool throwIfMissing)
{
    if (module == nullptr) module = GetModuleHandleW(nullptr);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const int room = static_cast<int>(buffer.size()) - 1;
        int length = LoadStringW(module, id, buffer.data(), room);
        if (length == 0) {
            DWORD error = GetLastError();
            if (throwIfMissing) throw win::exception(error, "LoadString(" + std::to_string(id) + ")");
            return L"";
        }
        if (length < room) return std::wstring(buffer.data(), static_cast<size_t>(length));
        buffer.assign(buffer.size() + 256, L'\0');
    }
}

void LoadEnglishString(UINT id, std::wstring& out)
{
    out.clear();
    HMODULE module = GetModuleHandleW(nullptr);
    if (module == nullptr) throw win::exception(GetLastError(), "GetModuleHandle(NULL)");

    const WORD block = static_cast<WORD>(id / 16 + 1);
    HRSRC resource = FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(block), 1033);
    if (resource == nullptr) throw win::exception(GetLastError(), "FindResourceEx");
    HGLOBAL loaded = LoadResource(module, resource);
    DWORD size = SizeofResource(module, resource);
    if (size == 0) throw win::exception(GetLastError(), "SizeofResource");
    const WCHAR* data = static_cast<const WCHAR*>(LockResource(loaded));
    if (data == nullptr) throw std::runtime_error("LockResource() failed");

    // Sixteen counted strings per block; walk past the ones before ours, never beyond the block.
    const WCHAR* end = data + size / sizeof(WCHAR);
    const WCHAR* entry = data;
    for (UINT skip = id % 16; skip > 0 && entry < end; --skip) entry += 1 + *entry;
    if (entry >= end) return;
    const size_t count = *entry;
    if (entry + 1 + count > end) return;
    out.assign(entry + 1, count);
}

}  // namespace osh
