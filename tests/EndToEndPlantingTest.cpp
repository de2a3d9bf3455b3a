// Files someone else planted where an elevated run looks: DLLs named like system DLLs and
// programs named like system programs, beside a copy of Setup.exe and in its working
// directory. Wine prefers its built-in DLLs; told to prefer native ones for these names
// (per program, in the prefix's settings) it searches the program's folder first, as Windows does for DLLs
// that are not known DLLs, so a planted DLL that gets loaded leaves its marker.
#include "support/EndToEnd.h"
#include "support/StateFiles.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"
#include "support/VendorConfigFile.h"

#include "osh/SystemDllLoading.h"
#include "osh/SystemPrograms.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testenv::Narrow;

// VERSION.dll is left out: Wine's own user32 imports it, so under Wine a native-first
// override for it loads the planted copy before the program's first instruction. Windows'
// user32 does not; the program binds VERSION.dll late like the others.
const std::vector<std::wstring> kPlantedDlls = {L"urlmon.dll", L"wintrust.dll", L"crypt32.dll", L"iphlpapi.dll",
                                                L"comctl32.dll"};

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring PlantingFile(const std::wstring& name)
{
    return testenv::BuildDirectory() + L"\\tests\\planting\\" + name;
}

void CopyOrThrow(const std::wstring& from, const std::wstring& to)
{
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        throw std::runtime_error("cannot copy " + Narrow(from) + " to " + Narrow(to));
}

// Makes Wine prefer a native DLL from the program's folder over its built-in one for the
// planted names, for one program name, while the object lives. (The harness's own
// WINEDLLOVERRIDES would win over an environment variable set here.)
class NativeFirst {
public:
    explicit NativeFirst(const std::wstring& program, const std::vector<std::wstring>& dlls = kPlantedDlls)
        : key_(L"Software\\Wine\\AppDefaults\\" + program)
    {
        HKEY overrides = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &overrides, nullptr) != ERROR_SUCCESS)
            throw std::runtime_error("cannot write the DLL overrides of " + Narrow(program));
        const wchar_t order[] = L"native,builtin";
        for (const std::wstring& dll : dlls)
            RegSetValueExW(overrides, dll.substr(0, dll.size() - 4).c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(order), sizeof(order));
        RegCloseKey(overrides);
    }
    ~NativeFirst()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());  // only when nothing else is left in it
    }
    NativeFirst(const NativeFirst&) = delete;
    NativeFirst& operator=(const NativeFirst&) = delete;

private:
    std::wstring key_;
};

class PlantedDlls : public ::testing::Test {
protected:
    void SetUp() override
    {
        programFolder_ = testenv::MakeScratchDirectory(L"planted-beside");
        workingFolder_ = testenv::MakeScratchDirectory(L"planted-cwd");
        setup_ = programFolder_ + L"\\Setup.exe";
        CopyOrThrow(testenv::SetupExecutable(), setup_);
        for (const std::wstring& dll : kPlantedDlls) {
            CopyOrThrow(PlantingFile(L"PlantedDll.dll"), programFolder_ + L"\\" + dll);
            CopyOrThrow(PlantingFile(L"PlantedDll.dll"), workingFolder_ + L"\\" + dll);
        }
        endtoend::LayOutRelease();
    }
    void TearDown() override
    {
        endtoend::CleanRelease();
        testenv::RemoveTree(programFolder_);
        testenv::RemoveTree(workingFolder_);
    }
    // The planted DLLs that were loaded, by path.
    std::vector<std::string> LoadedPlants() const
    {
        std::vector<std::string> loaded;
        for (const std::wstring& folder : {programFolder_, workingFolder_}) {
            for (const std::wstring& dll : kPlantedDlls) {
                const std::wstring marker = folder + L"\\" + dll + L".loaded";
                if (Exists(marker)) loaded.push_back(Narrow(marker));
            }
        }
        return loaded;
    }
    std::wstring programFolder_;
    std::wstring workingFolder_;
    std::wstring setup_;
    testsupport::SavedStoreValue newestVersion_{L"Setup", L"NewestVersion"};
    testsupport::SavedStoreValue newestPath_{L"Setup", L"NewestPath"};
};

TEST_F(PlantedDlls, CheckRunLoadsNoneOfThemAndStillFindsTheUpdate)
{
    const NativeFirst overrides(L"Setup.exe");
    EXPECT_EQ(0u, endtoend::RunProgram(setup_, L"/check /silent", 180000, workingFolder_));
    EXPECT_EQ(std::vector<std::string>{}, LoadedPlants());
    std::wstring version;
    EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", L"NewestVersion", version));
    EXPECT_EQ(L"5.0.1038.10828", version);
}

// The same planted DLLs are picked up by a program that imports them the ordinary way:
// the override does make Wine search the program's folder, so the check above means
// something.
TEST_F(PlantedDlls, AnOrdinaryImportWouldLoadThePlantedDll)
{
    const std::wstring probe = programFolder_ + L"\\Probe.exe";
    CopyOrThrow(PlantingFile(L"StaticImporter.exe"), probe);
    const NativeFirst overrides(L"Probe.exe");
    endtoend::RunProgram(probe, L"", 60000, workingFolder_);
    EXPECT_TRUE(Exists(programFolder_ + L"\\wintrust.dll.loaded"));
}

// ---------------------------------------------------------------------------------------
// A DLL planted beside an EXE component in the setup files, which every user can write

std::wstring SetupFilesFolder() { return testenv::ProductDataDirectory() + L"\\SetupFiles"; }

// The redistributable stand-in takes CommandLineToArgvW from shell32; told to prefer a
// native shell32 it loads one from its own folder first.
class PlantedBesideComponent : public ::testing::Test {
protected:
    void SetUp() override
    {
        endtoend::UninstallWhatRunsLeft();
        endtoend::LayOutRelease();
        CreateDirectoryW(testenv::ProductDataDirectory().c_str(), nullptr);
        CreateDirectoryW(SetupFilesFolder().c_str(), nullptr);
        CopyOrThrow(PlantingFile(L"PlantedDll.dll"), planted_);
        DeleteFileW(marker_.c_str());
        // The stand-ins keep their record in the setup files, where the test can read it.
        SetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", SetupFilesFolder().c_str());
        DeleteFileW(ran_.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", nullptr);
        for (const std::wstring& file : {planted_, marker_, ran_}) DeleteFileW(file.c_str());
        endtoend::UninstallWhatRunsLeft();
        endtoend::CleanRelease();
    }
    const std::wstring planted_ = SetupFilesFolder() + L"\\shell32.dll";
    const std::wstring marker_ = planted_ + L".loaded";
    const std::wstring ran_ = SetupFilesFolder() + L"\\vcredist_x64.exe.ran";
};

TEST_F(PlantedBesideComponent, ElevatedInstallRunsTheComponentWhereNothingWasPlanted)
{
    const NativeFirst overrides(L"vcredist_x64.exe", {L"shell32.dll"});
    EXPECT_EQ(0u, endtoend::RunSetup(L"/install /silent /nocheck"));
    EXPECT_FALSE(Exists(marker_)) << "the planted DLL was loaded by the elevated installer";
    const std::string ran = testsupport::ReadTextFile(ran_);
    EXPECT_NE(std::string::npos, ran.find("\\components\\vcredist_x64.exe\" /q")) << ran;
}

// The same component started from the setup files does load it: the override works, so
// the check above means something.
TEST_F(PlantedBesideComponent, StartedFromTheSetupFilesTheComponentWouldLoadIt)
{
    const std::wstring component = SetupFilesFolder() + L"\\vcredist_x64.exe";
    CopyOrThrow(endtoend::ReleaseFile(L"vcredist_x64.exe"), component);
    const NativeFirst overrides(L"vcredist_x64.exe", {L"shell32.dll"});
    endtoend::RunProgram(component, L"/q", 60000, SetupFilesFolder());
    EXPECT_TRUE(Exists(marker_));
    DeleteFileW(component.c_str());
}

// ---------------------------------------------------------------------------------------
// Programs named like system programs

const std::vector<std::wstring> kPlantedPrograms = {L"msiexec.exe", L"cmd.exe",      L"reg.exe",
                                                    L"sc.exe",      L"regsvr32.exe", L"attrib.exe"};

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

class PlantedPrograms : public ::testing::Test {
protected:
    void SetUp() override
    {
        endtoend::UninstallWhatRunsLeft();
        programFolder_ = testenv::MakeScratchDirectory(L"planted-programs");
        workingFolder_ = testenv::MakeScratchDirectory(L"planted-programs-cwd");
        setup_ = programFolder_ + L"\\Setup.exe";
        CopyOrThrow(testenv::SetupExecutable(), setup_);
        // The hook's working directory once the product is installed: a bare "reg" in the
        // script would find a program planted there first.
        CreateDirectoryW(installFolder_.c_str(), nullptr);
        for (const std::wstring& folder : {programFolder_, workingFolder_, installFolder_}) {
            for (const std::wstring& program : kPlantedPrograms)
                CopyOrThrow(PlantingFile(L"PlantedProgram.exe"), folder + L"\\" + program);
        }
        endtoend::LayOutRelease();
    }
    void TearDown() override
    {
        for (const std::wstring& program : kPlantedPrograms) {
            DeleteFileW((installFolder_ + L"\\" + program).c_str());
            DeleteFileW((installFolder_ + L"\\" + program + L".ran").c_str());
        }
        endtoend::UninstallWhatRunsLeft();
        endtoend::CleanRelease();
        testenv::RemoveTree(programFolder_);
        testenv::RemoveTree(workingFolder_);
    }
    std::vector<std::string> RanPlants() const
    {
        std::vector<std::string> ran;
        for (const std::wstring& folder : {programFolder_, workingFolder_, installFolder_}) {
            for (const std::wstring& program : kPlantedPrograms) {
                const std::wstring marker = folder + L"\\" + program + L".ran";
                if (Exists(marker)) ran.push_back(Narrow(marker));
            }
        }
        return ran;
    }
    std::wstring programFolder_;
    std::wstring workingFolder_;
    std::wstring installFolder_ = Environment(L"ProgramW6432") + L"\\Norlo 5";
    std::wstring setup_;
};

// The packages are installed by the system's msiexec and the hook runs through the
// system's cmd.exe and reg.exe, whatever lies beside Setup.exe, in its working directory
// or in the installation directory.
TEST_F(PlantedPrograms, InstallRunsOnlyTheSystemsOwnPrograms)
{
    const size_t logBefore = endtoend::LastLogLines(100000000).size();
    EXPECT_EQ(0u, endtoend::RunProgram(setup_, L"/install /silent /nocheck", 180000, workingFolder_));
    EXPECT_EQ(std::vector<std::string>{}, RanPlants());
    // The real msiexec installed the packages: each registered its uninstall command.
    EXPECT_FALSE(endtoend::StoreValueNames(L"uninstall").empty());
    // The hook ran at every stage and ended with 0, so the real commands did their work.
    const std::vector<std::string> lines = endtoend::LastLogLines(100000000);
    for (size_t i = logBefore; i < lines.size(); ++i)
        EXPECT_EQ(std::string::npos, lines[i].find(":W:Hook script for state ")) << lines[i];
}

TEST(SystemProgramCommand, BareSystemProgramsGetTheirFullPath)
{
    const std::wstring system = L"C:\\Windows\\System32";
    struct Case {
        const wchar_t* command;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"msiexec /qn /i \"a b.msi\" /norestart", L"\"C:\\Windows\\System32\\msiexec.exe\" /qn /i \"a b.msi\" /norestart"},
        {L"MsiExec.exe /X{1234}", L"\"C:\\Windows\\System32\\MsiExec.exe\" /X{1234}"},
        {L"\"msiexec.exe\" /x {1234} /qn", L"\"C:\\Windows\\System32\\msiexec.exe\" /x {1234} /qn"},
        {L"  msiexec", L"\"C:\\Windows\\System32\\msiexec.exe\""},
        {L"cmd /c exit 3", L"\"C:\\Windows\\System32\\cmd.exe\" /c exit 3"},
        {L"CMD.EXE /c x", L"\"C:\\Windows\\System32\\CMD.EXE\" /c x"},
        // named by path, or another program: left as it is
        {L"\"C:\\Program Files\\Norlo 5\\uninstall.exe\" /S", L"\"C:\\Program Files\\Norlo 5\\uninstall.exe\" /S"},
        {L"C:\\Windows\\System32\\msiexec.exe /x {1}", L"C:\\Windows\\System32\\msiexec.exe /x {1}"},
        {L".\\msiexec.exe /x {1}", L".\\msiexec.exe /x {1}"},
        {L"msiexecx /x", L"msiexecx /x"},
        {L"vcredist_x64.exe /q", L"vcredist_x64.exe /q"},
        {L"\"msiexec /x", L"\"msiexec /x"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, osh::WithSystemProgramPath(c.command, system)) << Narrow(c.command);
    EXPECT_EQ(L"\"" + osh::SystemFolder() + L"\\cmd.exe\" /d /s /c \"\"s.cmd\" A > \"o\"\"",
              osh::CommandProcessorLine(L"\"s.cmd\" A > \"o\""));
}

// The loader of the late-bound DLLs takes bare names only and finds them in the system folder.
TEST(SystemDll, LoadsFromTheSystemFolderAndRefusesPaths)
{
    wchar_t system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(systemLength, 0u);
    const HMODULE version = osh::LoadSystemDll(L"VERSION.dll");
    ASSERT_NE(nullptr, version);
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(version, path, MAX_PATH);
    EXPECT_EQ(0, _wcsnicmp(system, path, systemLength)) << Narrow(std::wstring(path, length));
    for (const std::wstring& name : {std::wstring(L"..\\version.dll"), std::wstring(L"C:\\planted\\version.dll"),
                                     std::wstring(L"sub/version.dll"), std::wstring(L"C:version.dll"), std::wstring()}) {
        SetLastError(0);
        EXPECT_EQ(nullptr, osh::LoadSystemDll(name)) << Narrow(name);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError()) << Narrow(name);
    }
    SetLastError(0);
    EXPECT_EQ(nullptr, osh::LoadSystemDll(L"no-such-library-here.dll"));
    EXPECT_NE(0u, GetLastError());
}

}  // namespace
