// The product executable under Wine against the local test server and the sample
// release's real packages: an install of every x64 component, the viewer install that
// leaves out the services-only package and starts the namespace-extension launcher, and
// the uninstall that runs every registered command last first, removes the entries and
// the remnants, and with "purge" the product's data folder except what holds ".nodelete".
#include "support/EndToEnd.h"
#include "support/MessageBoxWatcher.h"
#include "support/StateTestFiles.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using statetest::Exists;
using testenv::Narrow;

const std::wstring kRelease = L"5.0.1038.10828";

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring ProgramFolder64() { return Environment(L"ProgramW6432") + L"\\Norlo 5"; }
std::wstring DataFolder() { return Environment(L"ProgramData") + L"\\Norlo 5"; }

struct Package {
    std::wstring payload;
    std::wstring number;
};

const std::vector<Package> kX64Packages = {
    {L"runtimes-x64.txt", L"2"}, {L"viewer-x64.txt", L"3"}, {L"services-x64.txt", L"4"}};

bool Registered(const std::wstring& group, const std::wstring& name, REGSAM view = KEY_WOW64_64KEY)
{
    std::wstring value;
    return endtoend::ReadStoreValue(group, name, value, HKEY_LOCAL_MACHINE, view);
}

// Index of the first log line that contains text, or -1.
int LineWith(const std::vector<std::string>& lines, const std::string& text)
{
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
    return -1;
}

struct Outcome {
    bool ended = false;
    DWORD exitCode = 0;
    std::vector<testenv::SeenBox> boxes;
};

// Runs the product executable and answers its boxes as a user would; an uninstall asks
// for a restart even in a silent run, and that question is answered No (a restart would
// end every program of the prefix).
Outcome RunSetupAnswering(const std::wstring& arguments, std::vector<int> answers)
{
    Outcome outcome;
    std::wstring commandLine = L"\"" + testenv::SetupExecutable() + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return outcome;
    {
        testenv::MessageBoxWatcher watcher(std::move(answers), info.dwProcessId);
        outcome.ended = WaitForSingleObject(info.hProcess, 180000) == WAIT_OBJECT_0;
        outcome.boxes = watcher.Stop();
    }
    if (!outcome.ended) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 10000);
    }
    GetExitCodeProcess(info.hProcess, &outcome.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return outcome;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        endtoend::UninstallWhatRunsLeft();
        endtoend::LayOutRelease();
    }
    void TearDown() override
    {
        endtoend::UninstallWhatRunsLeft();
        DeleteFileW(launcher.c_str());
        DeleteFileW((launcher + L".log").c_str());
        endtoend::CleanRelease();
    }
    // The uninstall commands the last run logged; every run starts with the system's name.
    std::vector<std::string> UninstallCommandsInLog(const std::vector<std::string>& lines)
    {
        size_t start = 0;
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(":Microsoft Windows") != std::string::npos) start = i;
        std::vector<std::string> commands;
        for (const auto& line : std::vector<std::string>(lines.begin() + start, lines.end())) {
            const size_t at = line.find("Executing msiexec /x ");
            if (at != std::string::npos) commands.push_back(line.substr(at + 10));
        }
        return commands;
    }

    std::wstring launcher = ProgramFolder64() + L"\\OpenSkiv.exe";
};

TEST_F(EndToEnd, InstallThenUninstallEveryComponent)
{
    const size_t logBefore = endtoend::LastLogLines(100000000).size();
    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck"), 0u);

    std::vector<std::string> commands;  // by uninstall number, ascending
    for (const Package& package : kX64Packages) {
        EXPECT_TRUE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
        std::wstring command;
        EXPECT_TRUE(endtoend::ReadStoreValue(L"uninstall", package.number, command)) << Narrow(package.number);
        commands.push_back(Narrow(command));
    }
    EXPECT_TRUE(Exists(DataFolder() + L"\\SetupFiles\\Setup.exe"));
    std::wstring value;
    ASSERT_TRUE(endtoend::ReadStoreValue(L"Setup", L"LastFile", value));
    EXPECT_EQ(value, L"Setup.exe");
    ASSERT_TRUE(endtoend::ReadStoreValue(L"Setup", L"LastInstallType", value));
    EXPECT_EQ(value, L"services");
    ASSERT_TRUE(endtoend::ReadStoreValue(L"Setup", L"xmlurl", value));
    EXPECT_EQ(value.rfind(endtoend::ServerAddress(), 0), 0u) << Narrow(value);
    EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", L"LastVer", value));

    // A file the product wrote at run time and registered for removal.
    const std::wstring remnant = ProgramFolder64() + L"\\agent.state";
    statetest::WriteTextFile(remnant, "state");
    const std::wstring remnantGroup = L"Install-Files";
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5\\Install-Files", 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, L"agent.state", 0, REG_SZ, reinterpret_cast<const BYTE*>(remnant.c_str()),
                       static_cast<DWORD>((remnant.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    const Outcome uninstall = RunSetupAnswering(L"/uninstall /silent", {IDNO});
    ASSERT_TRUE(uninstall.ended);
    // Success with the restart the uninstall asks for, declined.
    EXPECT_EQ(uninstall.exitCode, 1u);
    EXPECT_EQ(uninstall.boxes.size(), 1u);

    for (const Package& package : kX64Packages) {
        EXPECT_FALSE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
        EXPECT_FALSE(Registered(L"uninstall", package.number)) << Narrow(package.number);
        EXPECT_FALSE(Registered(remnantGroup, package.payload)) << Narrow(package.payload);
    }
    EXPECT_FALSE(Exists(remnant));
    EXPECT_FALSE(Registered(remnantGroup, L"agent.state"));
    const auto logged = UninstallCommandsInLog(endtoend::LastLogLines(400));
    const std::vector<std::string> lastFirst(commands.rbegin(), commands.rend());
    EXPECT_EQ(logged, lastFirst);
    // Without "purge" the data folder stays.
    EXPECT_TRUE(Exists(DataFolder() + L"\\SetupFiles\\Setup.exe"));
    // Nothing to undo on a clean machine is no failure: the hook ends with 0 at every stage.
    const std::vector<std::string> lines = endtoend::LastLogLines(100000000);
    for (size_t i = logBefore; i < lines.size(); ++i)
        EXPECT_EQ(lines[i].find(":W:Hook script for state "), std::string::npos) << lines[i];
}

TEST_F(EndToEnd, ViewerInstallSkipsTheServicesAndPurgeKeepsTheLog)
{
    // The launcher the viewer install starts; the folder may be gone after an earlier
    // uninstall, and the stand-in is a program of its own that the build must have made.
    ASSERT_TRUE(Exists(statetest::StandInProgram())) << "missing " << Narrow(statetest::StandInProgram());
    statetest::MakeFolders(ProgramFolder64());
    statetest::PlaceStandIn(launcher);

    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck /viewer"), 0u);

    EXPECT_TRUE(Exists(ProgramFolder64() + L"\\viewer-x64.txt"));
    EXPECT_TRUE(Exists(ProgramFolder64() + L"\\runtimes-x64.txt"));
    EXPECT_FALSE(Exists(ProgramFolder64() + L"\\services-x64.txt"));
    EXPECT_FALSE(Registered(L"uninstall", L"4"));
    const auto lines = endtoend::LastLogLines(400);
    EXPECT_GE(LineWith(lines, "norlo5-services-x64-" + Narrow(kRelease) + ".msi ignored for install type viewer"), 0);
    EXPECT_GE(LineWith(lines, "Launched namespace extension."), 0);
    EXPECT_EQ(statetest::RecordedLines(launcher).size(), 1u);
    std::wstring value;
    ASSERT_TRUE(endtoend::ReadStoreValue(L"Setup", L"LastInstallType", value));
    EXPECT_EQ(value, L"viewer");

    const Outcome uninstall = RunSetupAnswering(L"/uninstall /silent /purge", {IDNO});
    ASSERT_TRUE(uninstall.ended);
    EXPECT_EQ(uninstall.exitCode, 1u);

    EXPECT_FALSE(Exists(ProgramFolder64() + L"\\viewer-x64.txt"));
    EXPECT_FALSE(Registered(L"uninstall", L"3"));
    EXPECT_FALSE(Exists(DataFolder() + L"\\SetupFiles"));
    // The hook's output keeps the log folder, and so the data folder above it.
    EXPECT_TRUE(Exists(DataFolder() + L"\\log\\.nodelete"));
    EXPECT_TRUE(Exists(DataFolder() + L"\\log\\setup.log"));
}

}  // namespace
