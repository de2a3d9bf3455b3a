// Child processes, the elevation and virtualization state of the token, the reboot
// question and the platform queries, on the real system under Wine.
#include "support/TestEnvironment.h"

#include "osh/ArgumentQuoting.h"
#include "osh/Elevation.h"
#include "osh/Exception.h"
#include "osh/Platform.h"
#include "osh/Process.h"
#include "osh/ProcessTermination.h"
#include "osh/ScopedHandle.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <string>
#include <set>
#include <thread>
#include <vector>

namespace {

std::wstring CmdExe()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\cmd.exe";
}

std::string WhatOf(const std::wstring& commandLine, const std::wstring& directory, DWORD* code = nullptr)
{
    try {
        osh::RunAndWait(commandLine, directory);
    } catch (const win::exception& e) {
        if (code != nullptr) *code = e.code();
        return e.what();
    } catch (const std::exception& e) {
        return std::string("<not a win::exception> ") + e.what();
    }
    return "<nothing thrown>";
}

// Wine does not count a process's handles, so probe the handle table value by value.
int OpenHandleCount()
{
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

class ScratchDirectory {
public:
    ScratchDirectory() : path_(testenv::MakeScratchDirectory(L"process")) {}
    ~ScratchDirectory() { testenv::RemoveTree(path_); }
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

TEST(RunAndWait, PassesTheExitCodeThroughUnchanged)
{
    EXPECT_EQ(3010u, osh::RunAndWait(L"\"" + CmdExe() + L"\" /c exit 3010", L""));
    EXPECT_EQ(0u, osh::RunAndWait(L"\"" + CmdExe() + L"\" /c exit 0", L""));
    EXPECT_EQ(1603u, osh::RunAndWait(L"cmd.exe /c exit 1603", L""));
}

TEST(RunAndWait, MissingProgramThrowsCreateProcessWithTheSystemText)
{
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring commandLine = L"\"" + std::wstring(windows) + L"\\no-such-program.exe\" /quiet";
    DWORD code = 0;
    const std::string what = WhatOf(commandLine, L"", &code);
    EXPECT_EQ(2u, code);
    EXPECT_EQ("CreateProcess(\"" + testenv::Narrow(commandLine) + "\")" + ": " +
                  win::exception(static_cast<DWORD>(2), "").what(),
              what);
    EXPECT_EQ(win::exception(static_cast<DWORD>(2), "CreateProcess(\"" + testenv::Narrow(commandLine) + "\")").what(),
              what);
}

TEST(RunAndWait, RunsInTheGivenWorkingDirectory)
{
    ScratchDirectory scratch;
    std::ofstream(testenv::Narrow(scratch.path() + L"\\marker.txt")) << "here";
    const std::wstring probe = L"cmd.exe /c if exist marker.txt (exit 7) else (exit 1)";
    EXPECT_EQ(7u, osh::RunAndWait(probe, scratch.path()));
    EXPECT_EQ(1u, osh::RunAndWait(probe, L""));
}

TEST(RunAndWait, MissingWorkingDirectoryThrows)
{
    DWORD code = 0;
    const std::string what = WhatOf(L"cmd.exe /c exit 0", L"C:\\no\\such\\directory", &code);
    EXPECT_NE(0u, code);
    EXPECT_EQ(0u, what.rfind("CreateProcess(\"cmd.exe /c exit 0\")", 0)) << what;
}

TEST(RunAndWait, LeavesNoHandlesBehind)
{
    osh::RunAndWait(L"cmd.exe /c exit 0", L"");  // first use loads what the process keeps
    WhatOf(L"no-such-program-anywhere.exe", L"");
    const int before = OpenHandleCount();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 5; ++i) {
        osh::RunAndWait(L"cmd.exe /c exit 5", L"");
        WhatOf(L"no-such-program-anywhere.exe", L"");
        osh::StartProgram(L"cmd.exe /c exit 0", L"", true);
    }
    EXPECT_EQ(before, OpenHandleCount());
}

TEST(StartProgram, AnswersWhetherTheProcessStarted)
{
    ScratchDirectory scratch;
    EXPECT_TRUE(osh::StartProgram(L"cmd.exe /c echo done> started.txt", scratch.path(), true));
    // Waited for: the child's file is there when the call returns.
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((scratch.path() + L"\\started.txt").c_str()));
    EXPECT_FALSE(osh::StartProgram(L"C:\\windows\\no-such-program.exe", L"", true));
    EXPECT_FALSE(osh::StartProgram(L"cmd.exe /c exit 0", L"C:\\no\\such\\directory", false));
}

TEST(StartProgram, WithoutWaitReturnsWhileTheChildRuns)
{
    ScratchDirectory scratch;
    osh::ScopedHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    // The child waits for a file that only appears after the call returned.
    const std::wstring waiter =
        L"cmd.exe /c \"for /l %i in (1,1,600) do @(if exist go.txt (echo seen> seen.txt & exit 0) else ping -n 2 127.0.0.1 > nul)\"";
    ASSERT_TRUE(osh::StartProgram(waiter, scratch.path(), false));
    std::ofstream(testenv::Narrow(scratch.path() + L"\\go.txt")) << "go";
    const std::wstring seen = scratch.path() + L"\\seen.txt";
    for (int i = 0; i < 600 && GetFileAttributesW(seen.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(seen.c_str()));
    Sleep(500);  // let the child end before its directory is removed
}

bool WaitForFile(const std::wstring& path)
{
    for (int i = 0; i < 300 && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Only starts that succeed: a failing ShellExecuteExW without SEE_MASK_FLAG_NO_UI shows the
// shell's own error box, which would wait for a user.
TEST(ShellRun, StartsTheFileWithParametersInTheDirectory)
{
    ScratchDirectory scratch;
    ASSERT_TRUE(osh::ShellRun(nullptr, nullptr, L"cmd.exe", L"/c echo shell> shell.txt", scratch.path().c_str()));
    EXPECT_TRUE(WaitForFile(scratch.path() + L"\\shell.txt"));
    ASSERT_TRUE(osh::RunElevated(nullptr, L"cmd.exe", L"/c echo elevated> elevated.txt", scratch.path().c_str()));
    EXPECT_TRUE(WaitForFile(scratch.path() + L"\\elevated.txt"));
    Sleep(500);  // let the children end before their directory is removed
}

TEST(ShellRun, HandsOverTheProcessSoItsExitCodeCanBeAwaited)
{
    ScratchDirectory scratch;
    osh::ScopedHandle process;
    ASSERT_TRUE(osh::RunElevated(nullptr, L"cmd.exe", L"/c exit 7", scratch.path().c_str(), &process));
    ASSERT_TRUE(process);
    EXPECT_EQ(7u, osh::WaitForExitCode(process.get()));
}

TEST(StartProcess, GivesTheRunningChildAndTheSystemErrorOtherwise)
{
    osh::ScopedHandle process;
    ASSERT_TRUE(osh::StartProcess(L"cmd.exe /c exit 3010", L"", process));
    EXPECT_EQ(3010u, osh::WaitForExitCode(process.get()));
    osh::ScopedHandle missing;
    EXPECT_FALSE(osh::StartProcess(L"C:\\windows\\no-such-program.exe", L"", missing));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_FALSE(missing);
}

TEST(ArgumentQuoting, EveryArgumentRoundTripsThroughTheSystemParser)
{
    struct Case {
        const wchar_t* argument;
        const wchar_t* token;
    };
    const Case cases[] = {
        {L"/install", L"/install"},
        {L"C:\\plain\\", L"C:\\plain\\"},  // backslashes without a quote stay single
        {L"/appliance=C:\\My Media\\", L"\"/appliance=C:\\My Media\\\\\""},
        {L"/note=say \"hi\"", L"\"/note=say \\\"hi\\\"\""},
        {L"a\\\"b", L"\"a\\\\\\\"b\""},
        {L"", L"\"\""},
        {L"two  blanks", L"\"two  blanks\""},
        {L"tab\there", L"\"tab\there\""},
        {L"\\\\server\\share dir\\\\", L"\"\\\\server\\share dir\\\\\\\\\""},
    };
    std::vector<std::wstring> arguments;
    for (const Case& c : cases) {
        EXPECT_EQ(c.token, osh::QuoteArgument(c.argument)) << testenv::Narrow(c.argument);
        const std::vector<std::wstring> back = testenv::ParsedBack(L"\"C:\\My Programs\\Setup.exe\" " + osh::QuoteArgument(c.argument));
        ASSERT_EQ(2u, back.size()) << testenv::Narrow(c.argument);
        EXPECT_EQ(c.argument, back[1]);
        arguments.push_back(c.argument);
    }
    // All together, after a program path with a blank.
    std::vector<std::wstring> expected{L"C:\\My Programs\\Setup.exe"};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(expected, testenv::ParsedBack(osh::QuoteProgramPath(expected.front()) + L" " + osh::JoinArguments(arguments)));
    EXPECT_EQ(L"", osh::JoinArguments({}));
}

// Stale copies: which images count, and which processes are the callers of this one.
TEST(StaleCopies, OnlyOurNamesDirectlyInOurSetupDirectoryCount)
{
    const std::wstring setup = L"C:\\ProgramData\\Norlo 5\\SetupFiles";
    const std::vector<std::wstring> names{L"Update.exe", L"Setup.exe", L"norlo5-Setup-5.0.exe"};
    struct Case {
        const wchar_t* image;
        bool stale;
    };
    for (const Case& c : {Case{L"C:\\ProgramData\\Norlo 5\\SetupFiles\\Setup.exe", true},
                          Case{L"c:\\programdata\\NORLO 5\\setupfiles\\SETUP.EXE", true},
                          Case{L"C:\\ProgramData\\Norlo 5\\SetupFiles\\Update.exe", true},
                          Case{L"C:\\ProgramData\\Norlo 5\\SetupFiles\\norlo5-Setup-5.0.exe", true},
                          Case{L"C:\\ProgramData\\Other Vendor\\SetupFiles\\Setup.exe", false},
                          Case{L"C:\\ProgramData\\Norlo 5\\SetupFiles\\vcredist_x64.exe", false},
                          Case{L"C:\\ProgramData\\Norlo 5\\SetupFiles\\sub\\Setup.exe", false},
                          Case{L"C:\\ProgramData\\Norlo 5\\SetupFiles2\\Setup.exe", false},
                          Case{L"Setup.exe", false}}) {
        EXPECT_EQ(c.stale, osh::IsStaleCopy(c.image, setup, names)) << testenv::Narrow(c.image);
    }
    EXPECT_TRUE(osh::IsStaleCopy(L"C:\\Setup\\Setup.exe", L"C:\\Setup\\", names));
    EXPECT_FALSE(osh::IsStaleCopy(L"C:\\Setup\\Setup.exe", L"", names));
}

TEST(StaleCopies, ParentChainStopsAtUnknownCyclicOrReusedIds)
{
    using osh::ProcessEntry;
    // 40 started 30 started 20 started 10 (this one); 50 is unrelated.
    const std::vector<ProcessEntry> chain{{10, 20, 400}, {20, 30, 300}, {30, 40, 200}, {40, 0, 100}, {50, 10, 500}};
    EXPECT_EQ((std::set<DWORD>{20, 30, 40}), osh::ParentChain(10, chain));
    // The parent's id now belongs to a process created after the child: not a caller.
    const std::vector<ProcessEntry> reused{{10, 20, 400}, {20, 30, 900}, {30, 0, 100}};
    EXPECT_EQ((std::set<DWORD>{}), osh::ParentChain(10, reused));
    // A parent that is gone ends the chain; unknown creation times do not.
    EXPECT_EQ((std::set<DWORD>{20}), osh::ParentChain(10, {{10, 20, 0}, {20, 99, 0}}));
    // Cycles end.
    EXPECT_EQ((std::set<DWORD>{20, 30}), osh::ParentChain(10, {{10, 20, 0}, {20, 30, 0}, {30, 20, 0}}));
    EXPECT_EQ((std::set<DWORD>{}), osh::ParentChain(10, {}));
}

TEST(Elevation, WineTokenIsElevated)
{
    bool elevated = false;
    EXPECT_EQ(0, osh::QueryElevation(&elevated));
    EXPECT_TRUE(elevated);
    EXPECT_EQ(0, osh::QueryElevation());
}

HRESULT ReportNotElevated(bool* elevated)
{
    if (elevated != nullptr) *elevated = false;
    return 1;
}

TEST(Elevation, SeamStandsInForTheTokenAndIsRestored)
{
    const osh::ElevationQueryFunction previous = osh::SetElevationQueryFunction(&ReportNotElevated);
    bool elevated = true;
    const HRESULT seamed = osh::QueryElevation(&elevated);
    osh::SetElevationQueryFunction(previous);
    EXPECT_EQ(1, seamed);
    EXPECT_FALSE(elevated);
    EXPECT_EQ(0, osh::QueryElevation(&elevated));
    EXPECT_TRUE(elevated);
}

TEST(Virtualization, SwitchingOffReturnsThePreviousState)
{
    const bool before = osh::SetTokenVirtualization(false);
    // Now off, whatever it was: a second call finds it off and changes nothing.
    EXPECT_FALSE(osh::SetTokenVirtualization(false));
    EXPECT_FALSE(osh::SetTokenVirtualization(false));
    EXPECT_FALSE(before) << "an elevated token has no virtualization";
}

// Wine refuses to switch virtualization on, which shows the failure path of the change.
TEST(Virtualization, RefusedChangeThrowsWithTheCallAsContext)
{
    try {
        osh::SetTokenVirtualization(true);
        osh::SetTokenVirtualization(false);
        GTEST_SKIP() << "this system can switch virtualization on";
    } catch (const win::exception& e) {
        EXPECT_EQ("SetTokenInformation(TokenVirtualizationEnabled)", e.context());
        EXPECT_TRUE(e.isWin32Error());
        EXPECT_EQ(win::exception(e.code(), "SetTokenInformation(TokenVirtualizationEnabled)").what(),
                  std::string(e.what()));
    }
    EXPECT_FALSE(osh::SetTokenVirtualization(false));
}

// The reboot tests replace ExitWindowsEx: the real call would end every process of the
// prefix, this test program included.
struct RebootRequest {
    int calls = 0;
    UINT flags = 0;
    DWORD reason = 0;
};
RebootRequest g_reboot;

BOOL WINAPI RecordReboot(UINT flags, DWORD reason)
{
    ++g_reboot.calls;
    g_reboot.flags = flags;
    g_reboot.reason = reason;
    return TRUE;
}

class RebootTest : public testing::Test {
protected:
    void SetUp() override
    {
        g_reboot = RebootRequest();
        previous_ = osh::SetExitWindowsFunction(&RecordReboot);
    }
    void TearDown() override { osh::SetExitWindowsFunction(previous_); }

private:
    osh::ExitWindowsFunction previous_ = nullptr;
};

// Answers the question box with the given caption from another thread, as a user would.
class BoxAnswerer {
public:
    BoxAnswerer(const wchar_t* caption, int answer)
        : thread_([this, caption, answer] { found_ = Answer(caption, answer); })
    {
    }
    ~BoxAnswerer()
    {
        if (thread_.joinable()) thread_.join();
    }
    bool Finish()
    {
        thread_.join();
        return found_;
    }

private:
    static bool Answer(const wchar_t* caption, int answer)
    {
        for (int i = 0; i < 600; ++i) {
            HWND box = FindWindowW(L"#32770", caption);
            if (box != nullptr) {
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, answer)));
                return true;
            }
            Sleep(100);
        }
        return false;
    }

    std::atomic<bool> found_{false};
    std::thread thread_;
};

TEST_F(RebootTest, WithoutQuestionGoesStraightToTheSystem)
{
    EXPECT_TRUE(osh::RebootSystem(L"", L"", nullptr));
    EXPECT_EQ(1, g_reboot.calls);
    EXPECT_EQ(0x42u, g_reboot.flags);  // reboot and restart registered applications
    EXPECT_EQ(0x80040001u, g_reboot.reason);
}

TEST_F(RebootTest, AnsweringNoRequestsNothing)
{
    BoxAnswerer answerer(L"Norlo reboot test (no)", IDNO);
    EXPECT_FALSE(osh::RebootSystem(L"Restart now?", L"Norlo reboot test (no)", nullptr));
    EXPECT_TRUE(answerer.Finish()) << "the question box never appeared";
    EXPECT_EQ(0, g_reboot.calls);
}

TEST_F(RebootTest, AnsweringYesRequestsTheRestart)
{
    BoxAnswerer answerer(L"Norlo reboot test (yes)", IDYES);
    EXPECT_TRUE(osh::RebootSystem(L"Restart now?", L"Norlo reboot test (yes)", nullptr));
    EXPECT_TRUE(answerer.Finish()) << "the question box never appeared";
    EXPECT_EQ(1, g_reboot.calls);
    EXPECT_EQ(0x80040001u, g_reboot.reason);
}

BOOL WINAPI RefuseReboot(UINT, DWORD) { return FALSE; }

TEST_F(RebootTest, RefusalBySystemIsReported)
{
    osh::SetExitWindowsFunction(&RefuseReboot);
    EXPECT_FALSE(osh::RebootSystem(L"", L"", nullptr));
}

TEST(Platform, SixtyFourBitPrefixRunsUsUnderWow64)
{
    NORLO_SKIP_UNLESS_WOW64();
    EXPECT_TRUE(osh::IsWow64());
    EXPECT_EQ(64, osh::GetNativeBitness());
    EXPECT_TRUE(osh::IsVistaOrLater());
}

}  // namespace
