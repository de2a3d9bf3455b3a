// The product executable under Wine against the local test server and the sample
// release's real packages: an install of every x64 component, the viewer install that
// leaves out the services-only package and starts the namespace-extension launcher, and
// the uninstall that runs every registered command last first, removes the entries and
// the remnants, and with "purge" the product's data folder except what holds ".nodelete".
// Installers' results count: a failing component fails the run and leaves what earlier runs installed,
// one asking for a restart ends with 1 and restarts nothing, and an uninstall command that
// fails keeps its entry and fails the uninstall.
#include "osh/PersistentStore.h"
#include "osh/ScopedHandle.h"
#include "support/EndToEnd.h"
#include "support/Links.h"
#include "support/MessageBoxWatcher.h"
#include "support/PolicyKeyValues.h"
#include "support/SetupRun.h"
#include "support/StateFiles.h"
#include "support/StateTestFiles.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"
#include "support/VendorConfigFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
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

// Index of the last log line that contains text, or -1: the latest run's own line.
int LastLineWith(const std::vector<std::string>& lines, const std::string& text)
{
    for (size_t i = lines.size(); i-- > 0;)
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
    const std::wstring results = testenv::MakeScratchDirectory(L"install-result");
    const std::wstring resultFile = results + L"\\result.json";
    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck /result=" + resultFile), 0u);
    {
        // First and last line of the run, and the result a deployment tool reads.
        const auto lines = endtoend::LastLogLines(400);
        const int first = LastLineWith(lines, ":setup:I:Setup " + Narrow(endtoend::SetupVersion()) +
                                                  " started, mode INSTALL, command line: ");
        ASSERT_GE(first, 0);
        EXPECT_NE(std::string::npos, lines[first].find("Setup.exe\" /install /silent /nocheck /result=")) << lines[first];
        EXPECT_NE(std::string::npos,
                  lines.back().find(":setup:I:Setup ended, mode INSTALL, outcome succeeded, exit code 0, restart needed no"))
            << lines.back();
        const std::string result = testsupport::ReadTextFile(resultFile);
        EXPECT_EQ(0u, result.find("{\"mode\":\"INSTALL\",\"outcome\":\"succeeded\",\"exitCode\":0,"
                                  "\"restartRequired\":false,\"components\":[{\"file\":\""))
            << result;
        EXPECT_EQ(std::string::npos, result.find("failed")) << result;
        EXPECT_EQ(std::string::npos, result.find("failedCheck")) << result;
        EXPECT_NE(std::string::npos, result.find("vcredist_x64.exe")) << result;
        testenv::RemoveTree(results);
    }

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

// The cache limit after a real install: files of an earlier release leave the setup files,
// everything this release names and the bootstrapper's copy stay, and the result says
// which policy the run ran under.
class PolicyInstall : public EndToEnd {
protected:
    testsupport::PolicyKeyScope policies_;
};

TEST_F(PolicyInstall, CacheLimitLeavesOnlyWhatThisReleaseNeeds)
{
    const std::wstring setupFiles = DataFolder() + L"\\SetupFiles";
    CreateDirectoryW(DataFolder().c_str(), nullptr);
    CreateDirectoryW(setupFiles.c_str(), nullptr);
    const std::wstring earlier = setupFiles + L"\\norlo5-services-x64-5.0.1030.1.msi";
    statetest::WriteTextFile(earlier, std::string(4096, 'e'));
    ASSERT_TRUE(policies_.SetNumber(L"CacheLimitMB", 0));
    const std::wstring results = testenv::MakeScratchDirectory(L"policy-install");

    ASSERT_EQ(0u, endtoend::RunSetup(L"/install /silent /nocheck /result=" + results + L"\\result.json"));
    const std::string result = testsupport::ReadTextFile(results + L"\\result.json");
    testenv::RemoveTree(results);

    EXPECT_FALSE(Exists(earlier));
    EXPECT_TRUE(Exists(setupFiles + L"\\Setup.exe"));
    EXPECT_TRUE(Exists(setupFiles + L"\\vcredist_x64.exe"));
    const std::vector<std::string> lines = endtoend::LastLogLines(400);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.find(":I:Policy CacheLimitMB=0: removed norlo5-services-x64-5.0.1030.1.msi (4096 bytes) from the setup files") !=
               std::string::npos;
    }));
    EXPECT_NE(std::string::npos, result.find(",\"policies\":{\"CacheLimitMB\":0}}")) << result;
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

// A standard user can write the data folder and plant a link there; the elevated purge
// removes the folder around it and never what the link points to.
TEST_F(EndToEnd, PurgeNeverFollowsALinkPlantedInTheDataFolder)
{
    const testsupport::CanaryFolder outside(L"e2e-link-target");
    statetest::WriteTextFile(DataFolder() + L"\\SetupFiles\\stale.bin", "stale");
    const testsupport::FolderLink link(DataFolder() + L"\\SetupFiles\\planted", outside.folder);

    const Outcome uninstall = RunSetupAnswering(L"/uninstall /silent /purge", {IDNO});
    ASSERT_TRUE(uninstall.ended);

    EXPECT_TRUE(outside.Intact());
    EXPECT_FALSE(Exists(DataFolder() + L"\\SetupFiles\\stale.bin"));
    EXPECT_NE(testsupport::SystemRemovesLinks(), link.Present());
    const auto lines = endtoend::LastLogLines(400);
    if (link.Present()) {
        EXPECT_GE(LastLineWith(lines, "RemoveLink: '" + Narrow(link.path) + "' could not be opened as a link"), 0);
    } else {
        EXPECT_GE(LastLineWith(lines, "Link \"" + Narrow(link.path) + "\" removed without following it."), 0);
    }
    EXPECT_NE(uninstall.exitCode, 0xFFFFFFFFu) << "the purge never fails the run";
}

// --- Installers' results --------------------------------------------------------------------

const DWORD kFailed = 0xFFFFFFFFu;

class InstallerResults : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        // The elevated run starts its own copy of the component, in a folder that is gone
        // when it ends: the stand-ins keep their files in the setup-files folder instead.
        SetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", (DataFolder() + L"\\SetupFiles").c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", nullptr);
        DeleteFileW(redistExitCode.c_str());
        EndToEnd::TearDown();
    }
    // The redistributable stand-in of the release ends with this code when it runs.
    void RedistributableEndsWith(int code) { statetest::WriteTextFile(redistExitCode, std::to_string(code)); }


    const std::wstring redistributable = DataFolder() + L"\\SetupFiles\\vcredist_x64.exe";
    const std::wstring redistExitCode = redistributable + L".exitcode";
};

// A failing component fails the run; what an earlier run installed stays, in an install
// (it rolls back only what it registered itself, here nothing) and in an update (which
// rolls back nothing: the first component it updated keeps its new version).
TEST_F(InstallerResults, FailingComponentKeepsWhatEarlierRunsInstalledAndFailsTheRun)
{
    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck"), 0u);
    for (const Package& package : kX64Packages) ASSERT_TRUE(Registered(L"uninstall", package.number));

    RedistributableEndsWith(1603);
    struct Case {
        const wchar_t* arguments;
        const char* line;
    };
    for (const Case& c :
         {Case{L"/install /silent /nocheck",
               ":I:Rolling back nothing: this run installed no component that registered an uninstall"},
          Case{L"/update /silent /nocheck",
               ":I:Rolling back nothing: an update keeps the components it updated and the entries of earlier runs"}}) {
        const endtoend::SetupOutcome run = endtoend::RunSetupWatched(c.arguments, endtoend::NeverRestart({}));
        ASSERT_TRUE(run.ended) << Narrow(c.arguments);
        EXPECT_EQ(run.exitCode, kFailed) << Narrow(c.arguments);
        EXPECT_TRUE(run.boxes.empty());

        for (const Package& package : kX64Packages) {
            EXPECT_TRUE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
            EXPECT_TRUE(Registered(L"uninstall", package.number)) << Narrow(package.number);
        }
        const auto lines = endtoend::LastRunLines();
        // The second component fails, after the first was installed again.
        const int first = LineWith(lines, "norlo5-custom-" + Narrow(kRelease) + "__PRE.msi\" /log");
        // Run from the elevated run's own copy, not from the setup files.
        const int failed = LineWith(lines, "\\components\\vcredist_x64.exe\" /q returned exit code 1603");
        ASSERT_GE(first, 0) << Narrow(c.arguments);
        ASSERT_GT(failed, first) << Narrow(c.arguments);
        EXPECT_NE(lines[static_cast<size_t>(failed)].find(":E:Installing vcredist_x64.exe failed: \""), std::string::npos);
        EXPECT_EQ(lines[static_cast<size_t>(failed)].find(Narrow(redistributable)), std::string::npos);
        EXPECT_LT(LineWith(lines, "norlo5-runtimes-x64-5.0.msi\" /log"), 0);
        const int nothing = LineWith(lines, c.line);
        EXPECT_GT(nothing, failed) << Narrow(c.arguments);
        EXPECT_LT(LineWith(lines, "Executing msiexec /x"), 0) << "nothing is uninstalled";
        EXPECT_LT(LineWith(lines, "Roll-back complete"), 0);
        EXPECT_GT(LineWith(lines, "Software process complete, failure detected."), nothing);
    }
    // A later run retries and succeeds.
    RedistributableEndsWith(0);
    const endtoend::SetupOutcome retry = endtoend::RunSetupWatched(L"/update /silent /nocheck", endtoend::NeverRestart({}));
    ASSERT_TRUE(retry.ended);
    EXPECT_NE(retry.exitCode, kFailed);
    for (const Package& package : kX64Packages)
        EXPECT_TRUE(Registered(L"uninstall", package.number)) << Narrow(package.number);
}

// The process id a setup-log line was written by ("...HOST[1234]:...").
std::string WriterOf(const std::string& line)
{
    std::smatch match;
    return std::regex_search(line, match, std::regex(R"(\[(\d+)\]:\d+:setup:)")) ? match[1].str() : std::string();
}

std::string JsonPath(const std::wstring& path)
{
    std::string json;
    for (const char c : Narrow(path)) json += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return json;
}

// Without "nocheck" the run hands over to the newer bootstrapper of the release, whose
// installer of the redistributable fails. Its lines, the failing installer's among them,
// stand in the one setup log between the first process's "Started" and "ended" lines, and
// the result file is written once, by the process the caller started, with what the
// newer one did.
TEST_F(InstallerResults, HandOverWhoseInstallerFailsKeepsItsLinesInTheLogAndWritesTheResultOnce)
{
    RedistributableEndsWith(1603);
    const std::wstring results = testenv::MakeScratchDirectory(L"handover-result");
    const std::wstring resultFile = results + L"\\result.json";
    const size_t before = endtoend::LastLogLines(100000000).size();
    const endtoend::SetupOutcome run =
        endtoend::RunSetupWatched(L"/install /silent \"/result=" + resultFile + L"\"", endtoend::NeverRestart({}));
    const std::string result = testsupport::ReadTextFile(resultFile);
    testenv::RemoveTree(results);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, kFailed);

    const std::vector<std::string> all = endtoend::LastLogLines(100000000);
    const std::vector<std::string> lines(all.begin() + static_cast<std::ptrdiff_t>(std::min(before, all.size())), all.end());
    const int started = LineWith(lines, "\\norlo5-Setup-" + Narrow(kRelease) + ".exe (process ");
    ASSERT_GE(started, 0);
    const std::string first = WriterOf(lines[started]);
    std::string newer = lines[started].substr(lines[started].find("(process ") + 9);
    newer = newer.substr(0, newer.find(')'));
    const int failed = LineWith(lines, ":E:Installing vcredist_x64.exe failed: ");
    const int ended = LineWith(lines, "norlo5-Setup-" + Narrow(kRelease) + ".exe ended with exit code -1");
    ASSERT_GE(failed, 0);
    ASSERT_GE(ended, 0);
    EXPECT_LT(started, failed);
    EXPECT_LT(failed, ended);
    EXPECT_NE(first, newer);
    EXPECT_EQ(first, WriterOf(lines[ended]));
    // Meanwhile only the newer process wrote, from its first line to its last.
    EXPECT_NE(std::string::npos, lines[started + 1].find("Setup " + Narrow(kRelease) + " started, mode INSTALL"));
    for (int i = started + 1; i < ended; ++i) EXPECT_EQ(newer, WriterOf(lines[i])) << lines[i];
    EXPECT_NE(std::string::npos, lines[ended - 1].find("Setup ended, mode INSTALL, outcome failed, exit code -1"));

    int written = 0;
    for (const std::string& line : lines) {
        if (line.find(":I:Result written to ") == std::string::npos) continue;
        ++written;
        EXPECT_EQ(first, WriterOf(line)) << line;
    }
    EXPECT_EQ(1, written);
    const int handedBack = LineWith(lines, ":I:Result handed back in ");
    ASSERT_GE(handedBack, 0);
    EXPECT_EQ(newer, WriterOf(lines[handedBack]));
    EXPECT_EQ(0u, result.find("{\"mode\":\"INSTALL\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"Installing vcredist_x64.exe failed: "))
        << result;
    EXPECT_NE(std::string::npos, result.find("{\"file\":\"vcredist_x64.exe\",\"action\":\"failed\",\"exitCode\":1603}"))
        << result;
    EXPECT_NE(std::string::npos, result.find(",\"logFiles\":[\"" + JsonPath(DataFolder() + L"\\log\\setup.log") + "\"]}"))
        << result;
}

// A plain file holds the program folder's name: the first package that installs into it
// fails and says why in its own log. That log outlives the run in the log folder, and the failure line and
// the result file name the kept file.
TEST_F(InstallerResults, FailingPackageLeavesItsOwnLogInTheLogFolder)
{
    const std::wstring aside = ProgramFolder64() + L".set-aside";
    const bool setAside = Exists(ProgramFolder64()) && MoveFileExW(ProgramFolder64().c_str(), aside.c_str(), 0);
    ASSERT_FALSE(Exists(ProgramFolder64()));
    statetest::WriteTextFile(ProgramFolder64(), "not a folder");
    const std::wstring results = testenv::MakeScratchDirectory(L"installer-log-result");
    const std::wstring resultFile = results + L"\\result.json";
    const endtoend::SetupOutcome run = endtoend::RunSetupWatched(L"/install /silent /nocheck \"/result=" + resultFile + L"\"",
                                                                 endtoend::NeverRestart({}));
    const std::string result = testsupport::ReadTextFile(resultFile);
    testenv::RemoveTree(results);
    DeleteFileW(ProgramFolder64().c_str());
    if (setAside) MoveFileExW(aside.c_str(), ProgramFolder64().c_str(), 0);

    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, kFailed);
    // The first package installs nothing into that folder; the runtimes package is the first that does.
    const std::string component = "norlo5-runtimes-x64-5.0.msi";
    const auto lines = endtoend::LastRunLines();
    const int failed = LineWith(lines, ":E:Installing " + component + " failed: ");
    ASSERT_GE(failed, 0);
    const std::string see = "; see the installer's log ";
    const size_t at = lines[static_cast<size_t>(failed)].find(see);
    ASSERT_NE(std::string::npos, at) << lines[static_cast<size_t>(failed)];
    const std::string kept = lines[static_cast<size_t>(failed)].substr(at + see.size());
    EXPECT_EQ(0u, kept.find(Narrow(DataFolder() + L"\\log\\installers\\") + component + ".")) << kept;
    const std::string log = testsupport::ReadTextFile(testenv::Widen(kept));
    EXPECT_NE(std::string::npos, log.find("Action")) << "not the installer's own log: " << log;
    EXPECT_NE(std::string::npos, result.find("\"action\":\"failed\",\"exitCode\":1603,\"log\":\"" +
                                             JsonPath(testenv::Widen(kept)) + "\"}"))
        << result;
    DeleteFileW(testenv::Widen(kept).c_str());
}

TEST_F(InstallerResults, ComponentAskingForARestartEndsWithOneAndRestartsNothingUnasked)
{
    RedistributableEndsWith(3010);
    const endtoend::SetupOutcome run = endtoend::RunSetupWatched(L"/install /nocheck", endtoend::NeverRestart({}));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1u);
    // The only box is the restart question, which was declined.
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_TRUE(endtoend::IsRestartQuestion(run.boxes[0])) << Narrow(run.boxes[0].text);
    for (const Package& package : kX64Packages)
        EXPECT_TRUE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
    EXPECT_GE(LineWith(endtoend::LastRunLines(), "Installing vcredist_x64.exe needs a restart to complete (exit code 3010)"), 0);

    // A silent run asks nothing and does not restart either.
    const endtoend::SetupOutcome silent =
        endtoend::RunSetupWatched(L"/install /silent /nocheck", endtoend::NeverRestart({}));
    ASSERT_TRUE(silent.ended);
    EXPECT_EQ(silent.exitCode, 1u);
    EXPECT_TRUE(silent.boxes.empty());
}

TEST_F(InstallerResults, UninstallCommandThatFailsKeepsItsEntryAndFailsTheUninstall)
{
    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck"), 0u);
    // Runs first (the next number after the install's own entries: the walk of the list
    // ends at a gap) and ends with a real failure code.
    int highest = -1;
    for (int index = 0; index < 32; ++index)
        if (Registered(L"uninstall", std::to_wstring(index))) highest = index;
    ASSERT_GE(highest, 0) << "the install registered no uninstall entry";
    const std::wstring failingName = std::to_wstring(highest + 1);
    const std::wstring failing = L"cmd /c exit 1603";
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5\\uninstall", 0, nullptr, 0,
                                  KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, failingName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(failing.c_str()),
                       static_cast<DWORD>((failing.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    const endtoend::SetupOutcome run = endtoend::RunSetupWatched(L"/uninstall /silent", endtoend::NeverRestart({}));
    std::wstring kept;
    const bool stillRegistered = endtoend::ReadStoreValue(L"uninstall", failingName, kept);
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5\\uninstall", 0,
                          KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, failingName.c_str());
            RegCloseKey(key);
        }
    }
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, kFailed);
    EXPECT_TRUE(run.boxes.empty()) << Narrow(run.boxes.empty() ? L"" : run.boxes[0].text);
    EXPECT_TRUE(stillRegistered);
    EXPECT_EQ(kept, failing);
    // The packages were still uninstalled, and their entries, which their own uninstall
    // removes, are no warning.
    for (const Package& package : kX64Packages) {
        EXPECT_FALSE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
        EXPECT_FALSE(Registered(L"uninstall", package.number)) << Narrow(package.number);
    }
    const auto lines = endtoend::LastRunLines();
    EXPECT_GE(LineWith(lines, ":E:Uninstalling with cmd /c exit 1603 failed: exit code 1603; its entry " +
                                  Narrow(failingName) + " is kept"),
              0);
    EXPECT_LT(LineWith(lines, ":W:RegDeleteValue"), 0);
    EXPECT_GE(LineWith(lines, "Software process complete, failure detected."), 0);
}


// The setup-files folder is writable by others. Here a product program asked to close just
// before the installs (after the download step checked every component) changes one byte
// of the first component: the check on the held file finds it, nothing is run or
// installed, and the run fails as a failed check does.
// A product program, asked to close just before the installs, changes a byte of a component
// in the setup files (as any user could): the elevated run installs the copy it checked in its
// own folder, never the changed file.
TEST_F(EndToEnd, ComponentChangedInTheSetupFilesAfterItsCheckIsNotWhatRuns)
{
    const testsupport::SavedStoreValue savedDirectory(L"Setup", L"DirInstall64");
    osh::SetPersistentValue(L"Setup", L"DirInstall64", ProgramFolder64());
    const std::wstring component = DataFolder() + L"\\SetupFiles\\norlo5-custom-" + kRelease + L"__PRE.msi";
    const std::wstring flipper = ProgramFolder64() + L"\\flipper.exe";
    statetest::MakeFolders(ProgramFolder64());
    ASSERT_TRUE(CopyFileW((testenv::BuildDirectory() + L"\\tests\\ComponentTamperHelper.exe").c_str(),
                          flipper.c_str(), FALSE));
    DeleteFileW((flipper + L".log").c_str());
    std::wstring commandLine = L"\"" + flipper + L"\" --flip-on-close \"" + component + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    ASSERT_TRUE(testsupport::WaitForFile(flipper + L".log", 30000)) << "the product program did not start";

    const std::wstring results = testenv::MakeScratchDirectory(L"held-result");
    const std::wstring resultFile = results + L"\\result.json";
    const endtoend::SetupOutcome run =
        endtoend::RunSetupWatched(L"/install /silent /nocheck /result=" + resultFile, endtoend::NeverRestart({}));
    const bool flipperEnded = WaitForSingleObject(info.hProcess, 10000) == WAIT_OBJECT_0;
    if (!flipperEnded) TerminateProcess(info.hProcess, 9);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    const std::vector<std::string> flips = statetest::RecordedLines(flipper);
    const std::string result = testsupport::ReadTextFile(resultFile);
    testenv::RemoveTree(results);
    DeleteFileW((flipper + L".log").c_str());
    DeleteFileW(flipper.c_str());

    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(flipperEnded);
    EXPECT_EQ(flips, (std::vector<std::string>{"ready", "flipped succeeded"}));
    const auto lines = endtoend::LastRunLines();
    const std::string name = "norlo5-custom-" + Narrow(kRelease) + "__PRE.msi";
    const int executed = LineWith(lines, "\\components\\" + name + "\"");
    ASSERT_GE(executed, 0) << "installed from the run's own copy";
    EXPECT_NE(lines[static_cast<size_t>(executed)].find(":I:Executing "), std::string::npos);
    for (const std::string& line : lines) {
        const bool ranFromSetupFiles = line.find("Executing") != std::string::npos &&
                                       line.find(Narrow(component)) != std::string::npos;
        EXPECT_FALSE(ranFromSetupFiles) << line;
    }
    for (const Package& package : kX64Packages)
        EXPECT_TRUE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
    EXPECT_EQ(0u, result.find("{\"mode\":\"INSTALL\",\"outcome\":\"succeeded\",\"exitCode\":0,")) << result;
}

// ---- runs held back before they change anything ------------------------------------------

// A product program that runs with a window and answers WM_CLOSE, started from the
// installation folder; it records "ready" and every WM_CLOSE.
class ProductProgram {
public:
    explicit ProductProgram(const std::wstring& path) : path_(path)
    {
        statetest::PlaceStandIn(path_);
        std::wstring commandLine = L"\"" + path_ + L"\" --window Norlo stand-in";
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return;
        process_.reset(info.hProcess);
        CloseHandle(info.hThread);
        testsupport::WaitForFile(path_ + L".log", 30000);
    }
    ~ProductProgram()
    {
        if (process_ && WaitForSingleObject(process_.get(), 0) != WAIT_OBJECT_0) TerminateProcess(process_.get(), 9);
        if (process_) WaitForSingleObject(process_.get(), 10000);
        DeleteFileW((path_ + L".log").c_str());
        DeleteFileW(path_.c_str());
    }
    bool Running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
    std::vector<std::string> Lines() const { return statetest::RecordedLines(path_); }

private:
    std::wstring path_;
    osh::ScopedHandle process_;
};

// The product marks a backup job with its named object while an update comes: the update
// waits the bound of the vendor setting, then ends "deferred" with -1 before any product
// program was asked to close and before any installer ran.
TEST_F(EndToEnd, UpdateDuringABackupJobIsDeferredAndStopsNothing)
{
    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck"), 0u);
    const testsupport::SavedStoreValue savedDirectory(L"Setup", L"DirInstall64");
    osh::SetPersistentValue(L"Setup", L"DirInstall64", ProgramFolder64());
    const ProductProgram product(ProgramFolder64() + L"\\Tarnview.exe");
    ASSERT_TRUE(product.Running());
    const testenv::VendorConfigFile settings(
        "product.job.object.name=Global\\\\NorloTestBackupJob\nsetup.job.wait.seconds=2\n");
    osh::ScopedHandle job(CreateEventW(nullptr, TRUE, FALSE, L"Global\\NorloTestBackupJob"));
    ASSERT_TRUE(job);
    const std::wstring results = testenv::MakeScratchDirectory(L"deferred-result");
    const std::wstring resultFile = results + L"\\result.json";

    EXPECT_EQ(0xFFFFFFFFu, endtoend::RunSetup(L"/update /silent /norestart /nocheck /result=" + resultFile));
    const std::string result = testsupport::ReadTextFile(resultFile);
    testenv::RemoveTree(results);

    EXPECT_TRUE(product.Running());
    EXPECT_EQ(product.Lines(), (std::vector<std::string>{"ready"})) << "a product program was asked to close";
    const auto lines = endtoend::LastRunLines();
    const int waiting = LineWith(lines, ":I:A backup or restore job is running (Global\\NorloTestBackupJob); "
                                        "waiting up to 2 seconds for it to end");
    ASSERT_GE(waiting, 0);
    const int deferred = LineWith(lines, ":E:A backup or restore job still runs after 2 seconds; nothing was "
                                         "changed, try again later");
    EXPECT_GT(deferred, waiting);
    EXPECT_LT(LineWith(lines, "Executing "), 0) << "an installer ran";
    EXPECT_EQ(0u, result.find("{\"mode\":\"UPDATE\",\"outcome\":\"deferred\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"A backup or restore job still runs after 2 seconds; nothing was "
                              "changed, try again later\""))
        << result;
    // The job ended: the next update goes through and asks the program to close.
    job.reset();
    EXPECT_NE(0xFFFFFFFFu, endtoend::RunSetup(L"/update /silent /norestart /nocheck"));
    EXPECT_EQ(product.Lines(), (std::vector<std::string>{"ready", "WM_CLOSE"}));
}

// Restores a REG_MULTI_SZ value of the Session Manager key as it was.
class SavedRenames {
public:
    SavedRenames()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
        DWORD size = 0;
        if (RegQueryValueExW(key, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            data_.resize(size);
            existed_ = RegQueryValueExW(key, kValue, nullptr, nullptr, data_.data(), &size) == ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    ~SavedRenames()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) return;
        if (existed_) {
            RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, data_.data(), static_cast<DWORD>(data_.size()));
        } else {
            RegDeleteValueW(key, kValue);
        }
        RegCloseKey(key);
    }
    static void Write(const std::wstring& data)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key));
        RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size() * sizeof(wchar_t)));
        RegCloseKey(key);
    }

    static constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const wchar_t* kValue = L"PendingFileRenameOperations";

private:
    bool existed_ = false;
    std::vector<BYTE> data_;
};

// Windows waits for a restart to replace a file in the program folder: an unattended install
// ends "restart pending" with -1 before anything is installed. A rename elsewhere does not count.
TEST_F(EndToEnd, PendingRestartEndsAnUnattendedInstallBeforeAnyChange)
{
    const SavedRenames saved;
    const std::wstring pending = ProgramFolder64() + L"\\bin\\old.dll";
    using namespace std::string_literals;
    SavedRenames::Write(L"\\??\\C:\\windows\\temp\\norlo-elsewhere.tmp\0\0\\??\\"s + pending + L"\0\0\0"s);
    const std::wstring results = testenv::MakeScratchDirectory(L"pending-result");
    const std::wstring resultFile = results + L"\\result.json";

    EXPECT_EQ(0xFFFFFFFFu, endtoend::RunSetup(L"/install /silent /norestart /nocheck /result=" + resultFile));
    const std::string result = testsupport::ReadTextFile(resultFile);
    testenv::RemoveTree(results);

    const std::string reason = "Windows waits for a restart (a file operation waits for a restart: " + Narrow(pending) +
                               "); an unattended run does not restart, so nothing was changed";
    const auto lines = endtoend::LastRunLines();
    EXPECT_GE(LineWith(lines, ":W:Windows waits for a restart: a file operation waits for a restart: " + Narrow(pending)), 0);
    EXPECT_LT(LineWith(lines, "norlo-elsewhere"), 0);
    EXPECT_GE(LineWith(lines, ":E:" + reason), 0);
    EXPECT_LT(LineWith(lines, "Executing "), 0) << "an installer ran";
    EXPECT_TRUE(endtoend::StoreValueNames(L"uninstall").empty());
    for (const Package& package : kX64Packages)
        EXPECT_FALSE(Exists(ProgramFolder64() + L"\\" + package.payload)) << Narrow(package.payload);
    std::string reasonJson;
    for (const char c : reason) reasonJson += c == '\\' ? std::string("\\\\") : std::string(1, c);
    EXPECT_EQ(0u, result.find("{\"mode\":\"INSTALL\",\"outcome\":\"restart pending\",\"exitCode\":-1,"
                              "\"restartRequired\":false,\"failureReason\":\"" + reasonJson + "\""))
        << result;
}

}  // namespace
