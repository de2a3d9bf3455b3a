#pragma once
// What the program knows about the machine and about itself: the Windows version text,
// module file names and handles, and access to the program's own resources.
#include <windows.h>

#include <string>

namespace osh {

// The facts the version description is made of, as the system reports them.
struct OSVersionData {
    OSVERSIONINFOEXW version{};
    WORD processorArchitecture = 0;  // PROCESSOR_ARCHITECTURE_* of the native system
    DWORD productType = 0;           // GetProductInfo's edition, read on version 6 and later
    int serverR2 = 0;                // GetSystemMetrics(SM_SERVERR2)
};

// Reads the version facts from the running system; throws win::exception "GetVersionEx()".
OSVersionData QueryOSVersionData();

// The description of the given facts, e.g. "Microsoft Windows 7 Ultimate Edition
// Service Pack 1 (build 7601), 64-bit". Throws "Unknown version of Windows" for
// systems before Windows 2000 or outside the NT family.
std::wstring DescribeOSVersion(const OSVersionData& data);

// DescribeOSVersion of the running system.
std::wstring GetOSDescription();

// True for every server edition (domain controller or server product type), whatever
// the description calls it; throws as DescribeOSVersion does.
bool IsServerVersion(const OSVersionData& data);

// IsServerVersion of the running system.
bool IsServerOS();

// Full path of a module's file (nullptr: the program), whatever its length.
std::wstring ModuleFileName(HMODULE module);

// Test seam: the call ModuleFileName makes. Wine cannot start a program whose path is
// longer than MAX_PATH, so tests feed long names through here. Returns the previous
// function; null puts GetModuleFileNameW back.
using ModuleFileNameFunction = DWORD(WINAPI*)(HMODULE module, LPWSTR buffer, DWORD size);
ModuleFileNameFunction SetModuleFileNameFunction(ModuleFileNameFunction function);

// Handle of a loaded module; nullptr means the program itself.
HMODULE ModuleHandle(const wchar_t* name);

// Resource helpers over FindResourceExW / LoadResource / LockResource / SizeofResource.
HRSRC FindResourceOrThrow(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language);
const void* LoadResourceData(HMODULE module, HRSRC resource);
DWORD ResourceSize(HMODULE module, HRSRC resource);

// A string-table entry in the thread's language. A missing entry gives an empty text,
// or throws win::exception "LoadString(<id>)" when throwIfMissing is set.
std::wstring LoadStringResource(UINT id, HMODULE module = nullptr, bool throwIfMissing = false);

// The US English (1033) string-table entry of the program, read from the raw block.
void LoadEnglishString(UINT id, std::wstring& out);

}  // namespace osh
