// System and module information: the version description through its seam and on the
// real prefix (workstation and, in a child process, a server setting), module names,
// and the program's string and raw resources.
#include "osh/Exception.h"
#include "osh/SystemInfo.h"
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testenv::Narrow;

// ---- child mode: a copy of this program started by the tests below answers one question
// into a file and ends before any test runs.

void WriteUtf8(const std::wstring& path, const std::wstring& text)
{
    std::ofstream out(Narrow(path), std::ios::binary);
    out << Narrow(text);
}

struct ChildMode {
    ChildMode()
    {
        int count = 0;
        wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
        if (arguments == nullptr || count < 3) return;
        const std::wstring mode = arguments[1];
        const std::wstring output = arguments[2];
        if (mode == L"--osh-describe-os") {
            WriteUtf8(output, osh::GetOSDescription() + (osh::IsServerOS() ? L"\nserver" : L"\nworkstation"));
            ExitProcess(0);
        }
    }
} g_childMode;

std::string ReadAll(const std::wstring& path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

osh::OSVersionData Version(DWORD major, DWORD minor, BYTE productType, WORD suite, WORD architecture,
                           DWORD edition = 0, const wchar_t* servicePack = L"", DWORD build = 7601, int serverR2 = 0)
{
    osh::OSVersionData data;
    data.version.dwOSVersionInfoSize = sizeof(data.version);
    data.version.dwPlatformId = VER_PLATFORM_WIN32_NT;
    data.version.dwMajorVersion = major;
    data.version.dwMinorVersion = minor;
    data.version.dwBuildNumber = build;
    data.version.wProductType = productType;
    data.version.wSuiteMask = suite;
    wcsncpy(data.version.szCSDVersion, servicePack, 127);
    data.processorArchitecture = architecture;
    data.productType = edition;
    data.serverR2 = serverR2;
    return data;
}

constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
constexpr BYTE kServer = VER_NT_SERVER;
constexpr WORD kAmd64 = PROCESSOR_ARCHITECTURE_AMD64;
constexpr WORD kX86 = PROCESSOR_ARCHITECTURE_INTEL;
constexpr WORD kIa64 = PROCESSOR_ARCHITECTURE_IA64;

std::wstring Describe(const osh::OSVersionData& data) { return osh::DescribeOSVersion(data); }

TEST(OSDescription, EveryEditionOfVersion6)
{
    const struct {
        DWORD edition;
        const wchar_t* text;
    } editions[] = {
        {1, L"Ultimate Edition"},
        {2, L"Home Basic Edition"},
        {3, L"Home Premium Edition"},
        {4, L"Enterprise Edition"},
        {6, L"Business Edition"},
        {7, L"Standard Server Edition"},
        {8, L"Datacenter Server Edition"},
        {9, L"Small Business Server"},
        {10, L"Enterprise Server Edition"},
        {11, L"Starter Edition"},
        {12, L"Datacenter Server Edition (core installation)"},
        {13, L"Standard Server Edition (core installation)"},
        {14, L"Enterprise Server Edition (core installation)"},
        {15, L"Enterprise Server Edition for Itanium-based Systems"},
        {17, L"Web Server Edition"},
        {18, L"Cluster Server Edition"},
        {25, L"Small Business Server Premium Edition"},
        {48, L"Professional"},
        {101, L"Home"},
        {121, L"Education"},
        {0, L""},
        {5, L""},
        {16, L""},
        {49, L""},
    };
    for (const auto& row : editions) {
        // Without an edition the family is followed by one blank only.
        const std::wstring edition = *row.text != L'\0' ? std::wstring(L" ") + row.text : std::wstring();
        EXPECT_EQ(L"Microsoft Windows 7" + edition + L" (build 7601), 64-bit",
                  Describe(Version(6, 1, kWorkstation, 0, kAmd64, row.edition)))
            << "edition " << row.edition;
    }
}

TEST(OSDescription, FamiliesServicePacksAndBitness)
{
    EXPECT_EQ(L"Microsoft Windows 7 Ultimate Edition Service Pack 1 (build 7601), 64-bit",
              Describe(Version(6, 1, kWorkstation, 0, kAmd64, 1, L"Service Pack 1")));
    EXPECT_EQ(L"Microsoft Windows Vista Home Premium Edition (build 6002), 32-bit",
              Describe(Version(6, 0, kWorkstation, 0, kX86, 3, L"", 6002)));
    EXPECT_EQ(L"Microsoft Windows Server 2008 Standard Server Edition (build 6001), 64-bit",
              Describe(Version(6, 0, kServer, 0, kAmd64, 7, L"", 6001)));
    EXPECT_EQ(L"Microsoft Windows Server 2008 R2 Enterprise Server Edition (build 7600)",
              Describe(Version(6, 1, VER_NT_DOMAIN_CONTROLLER, 0, kIa64, 10, L"", 7600)));
    EXPECT_EQ(L"Microsoft Windows Vista (build 6000), 32-bit", Describe(Version(6, 0, kWorkstation, 0, kX86, 0, L"", 6000)));
}

// The program declares itself made for Windows 10, so current systems report their real
// version; releases that share a version number are told apart by build.
TEST(OSDescription, CurrentEditionsByBuild)
{
    const struct {
        DWORD major, minor;
        BYTE productType;
        DWORD edition, build;
        const wchar_t* text;
        bool server;
    } rows[] = {
        {6, 2, kWorkstation, 48, 9200, L"Microsoft Windows 8 Professional (build 9200), 64-bit", false},
        {6, 3, kWorkstation, 101, 9600, L"Microsoft Windows 8.1 Home (build 9600), 64-bit", false},
        {6, 2, kServer, 7, 9200, L"Microsoft Windows Server 2012 Standard Server Edition (build 9200), 64-bit", true},
        {6, 3, kServer, 8, 9600, L"Microsoft Windows Server 2012 R2 Datacenter Server Edition (build 9600), 64-bit", true},
        {10, 0, kWorkstation, 48, 19045, L"Microsoft Windows 10 Professional (build 19045), 64-bit", false},
        {10, 0, kWorkstation, 101, 21996, L"Microsoft Windows 10 Home (build 21996), 64-bit", false},
        {10, 0, kWorkstation, 121, 22000, L"Microsoft Windows 11 Education (build 22000), 64-bit", false},
        {10, 0, kWorkstation, 4, 26100, L"Microsoft Windows 11 Enterprise Edition (build 26100), 64-bit", false},
        {10, 0, kWorkstation, 0, 22631, L"Microsoft Windows 11 (build 22631), 64-bit", false},
        {10, 0, kServer, 7, 14393, L"Microsoft Windows Server 2016 Standard Server Edition (build 14393), 64-bit", true},
        {10, 0, kServer, 8, 17763, L"Microsoft Windows Server 2019 Datacenter Server Edition (build 17763), 64-bit", true},
        {10, 0, VER_NT_DOMAIN_CONTROLLER, 7, 20348,
         L"Microsoft Windows Server 2022 Standard Server Edition (build 20348), 64-bit", true},
        {10, 0, kServer, 0, 26100, L"Microsoft Windows Server 2025 (build 26100), 64-bit", true},
        // An edition whose name does not say "Server" is still a server.
        {10, 0, kServer, 48, 20348, L"Microsoft Windows Server 2022 Professional (build 20348), 64-bit", true},
        {6, 1, kServer, 0, 7601, L"Microsoft Windows Server 2008 R2 (build 7601), 64-bit", true},
        {6, 1, kWorkstation, 9, 7601, L"Microsoft Windows 7 Small Business Server (build 7601), 64-bit", false},
    };
    for (const auto& row : rows) {
        const osh::OSVersionData data =
            Version(row.major, row.minor, row.productType, 0, kAmd64, row.edition, L"", row.build);
        EXPECT_EQ(row.text, Describe(data)) << Narrow(row.text);
        EXPECT_EQ(row.server, osh::IsServerVersion(data)) << Narrow(row.text);
    }
    EXPECT_THROW(osh::IsServerVersion(Version(4, 0, kServer, 0, kX86)), std::runtime_error);
}

TEST(OSDescription, Version5Families)
{
    EXPECT_EQ(L"Microsoft Windows XP Professional Service Pack 3 (build 2600)",
              Describe(Version(5, 1, kWorkstation, 0, kX86, 0, L"Service Pack 3", 2600)));
    EXPECT_EQ(L"Microsoft Windows XP Home Edition (build 2600)",
              Describe(Version(5, 1, kWorkstation, 0x200, kX86, 0, L"", 2600)));
    EXPECT_EQ(L"Microsoft Windows 2000 Professional (build 2195)", Describe(Version(5, 0, kWorkstation, 0x80, kX86, 0, L"", 2195)));
    EXPECT_EQ(L"Microsoft Windows 2000 Datacenter Server (build 2195)", Describe(Version(5, 0, kServer, 0x82, kX86, 0, L"", 2195)));
    EXPECT_EQ(L"Microsoft Windows 2000 Advanced Server (build 2195)", Describe(Version(5, 0, kServer, 0x2, kX86, 0, L"", 2195)));
    EXPECT_EQ(L"Microsoft Windows 2000 Server (build 2195)", Describe(Version(5, 0, kServer, 0, kX86, 0, L"", 2195)));

    const auto v52 = [](BYTE type, WORD suite, WORD architecture, int r2 = 0) {
        return Describe(Version(5, 2, type, suite, architecture, 0, L"", 3790, r2));
    };
    // Family order: R2 first, then storage, home server, XP x64, plain 2003.
    EXPECT_EQ(L"Microsoft Windows Server 2003 R2, Standard Edition (build 3790)", v52(kServer, 0x2000, kX86, 1));
    EXPECT_EQ(L"Microsoft Windows Storage Server 2003, Standard Edition (build 3790)", v52(kServer, 0xA000, kX86));
    EXPECT_EQ(L"Microsoft Windows Home Server (build 3790)", v52(kWorkstation, 0x8000, kAmd64));
    EXPECT_EQ(L"Microsoft Windows XP Professional x64 Edition (build 3790)", v52(kWorkstation, 0, kAmd64));
    EXPECT_EQ(L"Microsoft Windows Server 2003 (build 3790)", v52(kWorkstation, 0, kX86));

    EXPECT_EQ(L"Microsoft Windows Server 2003, Datacenter Edition for Itanium-based Systems (build 3790)", v52(kServer, 0x82, kIa64));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Enterprise Edition for Itanium-based Systems (build 3790)", v52(kServer, 0x2, kIa64));
    EXPECT_EQ(L"Microsoft Windows Server 2003 (build 3790)", v52(kServer, 0x400, kIa64));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Datacenter x64 Edition (build 3790)", v52(kServer, 0x82, kAmd64));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Enterprise x64 Edition (build 3790)", v52(kServer, 0x2, kAmd64));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Standard x64 Edition (build 3790)", v52(kServer, 0x400, kAmd64));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Compute Cluster Edition (build 3790)", v52(kServer, 0x4082, kX86));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Datacenter Edition (build 3790)", v52(kServer, 0x482, kX86));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Enterprise Edition (build 3790)", v52(kServer, 0x402, kX86));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Web Edition (build 3790)", v52(kServer, 0x400, kX86));
    EXPECT_EQ(L"Microsoft Windows Server 2003, Standard Edition (build 3790)", v52(kServer, 0, kX86));
}

TEST(OSDescription, UnknownVersionsAreRefused)
{
    for (const osh::OSVersionData& data : {Version(4, 0, kWorkstation, 0, kX86), Version(3, 51, kServer, 0, kX86)}) {
        try {
            Describe(data);
            ADD_FAILURE() << "no exception for version " << data.version.dwMajorVersion;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ("Unknown version of Windows", error.what());
        }
    }
    osh::OSVersionData windows9x = Version(5, 0, kWorkstation, 0, kX86);
    windows9x.version.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    EXPECT_THROW(Describe(windows9x), std::runtime_error);
}

TEST(OSDescription, TheWorkstationPrefix)
{
    const std::wstring text = osh::GetOSDescription();
    EXPECT_EQ(0u, text.find(L"Microsoft ")) << Narrow(text);
    ASSERT_GE(text.size(), 8u);
    EXPECT_EQ(L", 64-bit", text.substr(text.size() - 8)) << Narrow(text);
    EXPECT_NE(std::wstring::npos, text.find(L" (build ")) << Narrow(text);
    // The test prefix answers as Windows 7 (Wine 8's default): a family is named.
    EXPECT_EQ(0u, text.find(L"Microsoft Windows ")) << Narrow(text);
    EXPECT_EQ(std::wstring::npos, text.find(L"  ")) << Narrow(text);
    EXPECT_FALSE(osh::IsServerOS());
}

// Wine answers per program with the version of its application defaults: a copy of this
// program under its own name is given a server version while the rest of the prefix stays
// a workstation. (Wine 8 honours "win2008" there; its "win2008r2" still answers as
// Windows 7, so the R2 rows are covered through the seam above.)
TEST(OSDescription, AServerSettingIsRecognised)
{
    const std::wstring scratch = testenv::MakeScratchDirectory(L"osh-server");
    const std::wstring probe = scratch + L"\\OshServerProbe.exe";
    const std::wstring output = scratch + L"\\description.txt";
    ASSERT_TRUE(CopyFileW(osh::ModuleFileName(nullptr).c_str(), probe.c_str(), FALSE));
    const wchar_t appDefaults[] = L"Software\\Wine\\AppDefaults\\OshServerProbe.exe";
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, appDefaults, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                             &key, nullptr));
    const wchar_t version[] = L"win2008";
    RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
    RegCloseKey(key);

    const testenv::ProcessResult result =
        testenv::Run(L"\"" + probe + L"\" --osh-describe-os \"" + output + L"\"", 60000);
    const std::string answer = ReadAll(output);
    RegDeleteKeyW(HKEY_CURRENT_USER, appDefaults);
    testenv::RemoveTree(scratch);

    ASSERT_TRUE(result.finished);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_EQ(0u, answer.find("Microsoft Windows Server 2008 Standard Server Edition ")) << answer;
    EXPECT_NE(std::string::npos, answer.find(", 64-bit\nserver")) << answer;
}

// The system's behaviour for a short buffer: as much as fits, no terminator, the buffer
// size as result.
const std::wstring g_longName = L"C:\\" + std::wstring(396, L'x') + L".exe";
std::vector<DWORD> g_bufferSizes;

DWORD WINAPI LongModuleFileName(HMODULE, LPWSTR buffer, DWORD size)
{
    g_bufferSizes.push_back(size);
    if (size <= g_longName.size()) {
        wmemcpy(buffer, g_longName.c_str(), size);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    wmemcpy(buffer, g_longName.c_str(), g_longName.size() + 1);
    return static_cast<DWORD>(g_longName.size());
}

// Newer systems cut one character more and end the cut path with a NUL.
DWORD WINAPI TerminatedLongModuleFileName(HMODULE, LPWSTR buffer, DWORD size)
{
    g_bufferSizes.push_back(size);
    if (size <= g_longName.size()) {
        wmemcpy(buffer, g_longName.c_str(), size - 1);
        buffer[size - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    wmemcpy(buffer, g_longName.c_str(), g_longName.size() + 1);
    return static_cast<DWORD>(g_longName.size());
}

DWORD WINAPI FailingModuleFileName(HMODULE, LPWSTR, DWORD)
{
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
}

TEST(ModuleInfo, LongProgramPathIsReturnedWhole)
{
    g_bufferSizes.clear();
    const osh::ModuleFileNameFunction previous = osh::SetModuleFileNameFunction(&LongModuleFileName);
    const std::wstring name = osh::ModuleFileName(nullptr);
    osh::SetModuleFileNameFunction(&TerminatedLongModuleFileName);
    const std::wstring terminatedName = osh::ModuleFileName(nullptr);
    osh::SetModuleFileNameFunction(&FailingModuleFileName);
    std::string failure;
    try {
        osh::ModuleFileName(nullptr);
    } catch (const win::exception& error) {
        failure = error.context() + " " + std::to_string(error.code());
    }
    osh::SetModuleFileNameFunction(previous);

    EXPECT_EQ(g_longName, name);
    EXPECT_EQ(g_longName, terminatedName) << "a cut path ending in a NUL is read again too";
    EXPECT_EQ((std::vector<DWORD>{260, 520, 260, 520}), g_bufferSizes);
    EXPECT_EQ("GetModuleFileName 126", failure);
    // The real call is back in place.
    EXPECT_NE(std::wstring::npos, osh::ModuleFileName(nullptr).find(L"SystemInfoTest"));
}

TEST(ModuleInfo, HandlesAndTheirFailures)
{
    EXPECT_EQ(GetModuleHandleW(nullptr), osh::ModuleHandle(nullptr));
    EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), osh::ModuleHandle(L"kernel32.dll"));
    try {
        osh::ModuleHandle(L"osh-no-such-module.dll");
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("GetModuleHandle(\"osh-no-such-module.dll\")", error.context());
        EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), error.code());
    }
    const std::wstring self = osh::ModuleFileName(nullptr);
    EXPECT_EQ(L".exe", self.substr(self.size() - 4));
    EXPECT_NE(std::wstring::npos, self.find(L"SystemInfoTest"));
}

TEST(Resources, RawResourceHelpers)
{
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC version = osh::FindResourceOrThrow(self, RT_VERSION, MAKEINTRESOURCEW(1), 0);
    const DWORD size = osh::ResourceSize(self, version);
    const void* data = osh::LoadResourceData(self, version);
    ASSERT_NE(nullptr, data);
    // A version block starts with its own length.
    EXPECT_EQ(size, *static_cast<const WORD*>(data));

    try {
        osh::FindResourceOrThrow(self, RT_STRING, MAKEINTRESOURCEW(4000), 1033);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("FindResourceEx(6,4000,409)", error.context());
    }
    try {
        osh::FindResourceOrThrow(self, L"NORLODATA", L"MISSING", 0x0c0a);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("FindResourceEx(NORLODATA,MISSING,c0a)", error.context());
    }
}

TEST(Resources, StringTableEntries)
{
    const std::wstring updateUrl = testenv::Widen(NORLO_UPDATE_SERVER "/update.xml");
    EXPECT_EQ(updateUrl, osh::LoadStringResource(301));
    std::wstring english = L"stale";
    osh::LoadEnglishString(301, english);
    EXPECT_EQ(updateUrl, english);
    osh::LoadEnglishString(300, english);
    EXPECT_EQ(L"Norlo 5", english);
    osh::LoadEnglishString(109, english);
    EXPECT_EQ(L"ZIZ", english);
    // 302 shares the block of 301 but has no entry.
    osh::LoadEnglishString(302, english);
    EXPECT_EQ(L"", english);
    EXPECT_THROW(osh::LoadEnglishString(4000, english), win::exception);
    EXPECT_EQ(L"", english);

    EXPECT_EQ(L"", osh::LoadStringResource(4000));
    EXPECT_EQ(L"", osh::LoadStringResource(4000, GetModuleHandleW(nullptr), false));
    try {
        osh::LoadStringResource(4000, nullptr, true);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("LoadString(4000)", error.context());
    }
}

}  // namespace
