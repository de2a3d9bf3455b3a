// The process entry: the start-up switches, the engine thread's early ends, and the whole
// executable started as a user or the product would start it, on a workstation and on a
// server edition, failing for want of its setup-files folder or checking for updates
// against the test server.
#include "app/EngineThread.h"
#include "app/ProgressWindow.h"
#include "app/ResultFile.h"
#include "app/RunEnd.h"
#include "app/RunSummary.h"
#include "app/SetupLog.h"
#include "app/ShellValues.h"
#include "app/Startup.h"
#include "engine/BackupJobWait.h"
#include "engine/BoundedWait.h"
#include "engine/CommandLine.h"
#include "engine/GateSettings.h"
#include "engine/PendingRestart.h"
#include "engine/RunLock.h"
#include "engine/FileVersion.h"
#include "engine/OSWorker.h"
#include "engine/PathKind.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "support/EndToEnd.h"
#include "support/MessageBoxWatcher.h"
#include "support/MessageLoop.h"
#include "support/StateFiles.h"
#include "support/StoreKeys.h"
#include "support/Links.h"
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <memory>
#include <stdexcept>
#include <regex>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* Title = L"Performing software maintenance...";
constexpr const wchar_t* ServerRefusal = L"This software cannot be installed on a server operating system.";
constexpr DWORD FailureExitCode = 0xFFFFFFFF;
constexpr DWORD RunTimeoutMs = 120000;
// The version of the newer bootstrapper the sample release publishes.
const std::wstring kSampleRelease = L"5.0.1038.10828";

// ---- start-up switches --------------------------------------------------------------

TEST(StartSwitches, ExactWordsInAnyCase)
{
    auto switches = app::ReadStartSwitches({L"C:\\setup\\Setup.exe", L"/silent"});
    EXPECT_TRUE(switches.Silent);
    EXPECT_FALSE(switches.AllowServer);
    switches = app::ReadStartSwitches({L"Setup.exe", L"/SERVER", L"/SiLeNt"});
    EXPECT_TRUE(switches.Silent);
    EXPECT_TRUE(switches.AllowServer);
}

TEST(StartSwitches, LookalikesDoNotCount)
{
    for (const wchar_t* word : {L"--silent", L"/silent=x", L"silent", L"/silent ", L"-silent", L"/silently"}) {
        const auto switches = app::ReadStartSwitches({L"Setup.exe", word});
        EXPECT_FALSE(switches.Silent) << testenv::Narrow(word);
    }
    EXPECT_FALSE(app::ReadStartSwitches({L"Setup.exe", L"--server", L"/server=yes"}).AllowServer);
    EXPECT_FALSE(app::ReadStartSwitches({}).Silent);
}

TEST(StartSwitches, ProgramPathTakesPart)
{
    EXPECT_TRUE(app::ReadStartSwitches({L"/Silent"}).Silent);
    EXPECT_TRUE(app::ReadStartSwitches({L"/server"}).AllowServer);
}

TEST(StartSwitches, NoRestartAndResultPath)
{
    auto switches = app::ReadStartSwitches({L"Setup.exe", L"/NoRestart", L"/RESULT=C:\\Out\\R.json", L"/result=x"});
    EXPECT_TRUE(switches.Unattended);
    EXPECT_FALSE(switches.Silent) << "unattended does not hide the window";
    EXPECT_EQ(L"C:\\Out\\R.json", switches.ResultPath) << "the first path counts, as written";
    switches = app::ReadStartSwitches({L"Setup.exe", L"--norestart", L"/result", L"/result=", L"--result=x"});
    EXPECT_FALSE(switches.Unattended);
    EXPECT_EQ(L"", switches.ResultPath);
}

TEST(StartSwitches, CommandLineListStartsWithTheProgram)
{
    const auto arguments = app::ReadCommandLine();
    ASSERT_FALSE(arguments.empty());
    EXPECT_NE(std::wstring::npos, arguments[0].find(L"StartupTest"));
    EXPECT_EQ(0u, arguments.back().find(L"--gtest_filter="));
}

// ---- engine thread ------------------------------------------------------------------

// An engine whose setup-files directory is chosen by the test.
std::wstring g_setupDirectory;

class ScriptedEngine : public ziz::OSWorker {
public:
    bool GetPath(std::wstring& path, ziz::PathKind kind) override
    {
        if (kind != ziz::evSetup || g_setupDirectory.empty()) return false;
        path = g_setupDirectory;
        return true;
    }
};

std::unique_ptr<ziz::OSWorker> NoEngine()
{
    return nullptr;
}

std::unique_ptr<ziz::OSWorker> ThrowingEngine()
{
    throw std::runtime_error("engine construction failed");
}

std::unique_ptr<ziz::OSWorker> MakeScriptedEngine()
{
    return std::make_unique<ScriptedEngine>();
}

// Points the user's temporary directory somewhere for the life of the object.
class TemporaryDirectoryOverride {
public:
    explicit TemporaryDirectoryOverride(const std::wstring& path)
        : tmp_(Read(L"TMP")), temp_(Read(L"TEMP"))
    {
        SetEnvironmentVariableW(L"TMP", path.c_str());
        SetEnvironmentVariableW(L"TEMP", path.c_str());
    }
    ~TemporaryDirectoryOverride()
    {
        SetEnvironmentVariableW(L"TMP", tmp_.empty() ? nullptr : tmp_.c_str());
        SetEnvironmentVariableW(L"TEMP", temp_.empty() ? nullptr : temp_.c_str());
    }
    TemporaryDirectoryOverride(const TemporaryDirectoryOverride&) = delete;
    TemporaryDirectoryOverride& operator=(const TemporaryDirectoryOverride&) = delete;

private:
    static std::wstring Read(const wchar_t* name)
    {
        wchar_t value[MAX_PATH] = {};
        GetEnvironmentVariableW(name, value, MAX_PATH);
        return value;
    }
    std::wstring tmp_;
    std::wstring temp_;
};

class EngineThread : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto& shell = app::Shell();
        shell.Instance = GetModuleHandleW(nullptr);
        app::LoadTextInto(400, shell.WindowTitle);
        app::LoadTextInto(109, shell.WindowClass);
        app::RegisterProgressWindowClass(shell.Instance);
    }

    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"engine-thread");
        // A file where a directory is expected: nothing can be created below it.
        blocked_ = scratch_ + L"\\blocker";
        CloseHandle(CreateFileW(blocked_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        blocked_ += L"\\temp\\";
        shutdown_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        app::Shell().ShutdownEvent = shutdown_.get();
        app::Shell().Interactive = false;
        g_setupDirectory.clear();
        window_ = app::CreateProgressWindow(app::Shell().Instance);
        ASSERT_NE(nullptr, window_);
    }

    void TearDown() override
    {
        app::SetEngineFactory(nullptr);
        if (IsWindow(window_)) DestroyWindow(window_);
        testenv::DrainQueue();
        app::Shell().ShutdownEvent = nullptr;
        app::Shell().Interactive = true;
        testenv::RemoveTree(scratch_);
    }

    // Runs the engine thread against the window and the main loop until WM_QUIT; the
    // thread's own exit code goes to threadExit.
    std::optional<int> RunEngineThread(DWORD& threadExit, DWORD loopTimeoutMs = 20000)
    {
        osh::ScopedHandle thread(CreateThread(nullptr, 0, app::EngineThread, window_, 0, nullptr));
        if (!thread) return std::nullopt;
        const auto exitCode = testenv::RunUntilQuit(loopTimeoutMs);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread.get(), 60000));
        GetExitCodeThread(thread.get(), &threadExit);
        return exitCode;
    }

    std::wstring scratch_;
    std::wstring blocked_;
    osh::ScopedHandle shutdown_;
    HWND window_ = nullptr;
};

TEST_F(EngineThread, NoEngineEndsTheProcessWithMinusOne)
{
    app::SetEngineFactory(NoEngine);
    testenv::MessageBoxWatcher watcher;
    DWORD threadExit = 0;
    EXPECT_EQ(-1, RunEngineThread(threadExit));
    EXPECT_EQ(static_cast<DWORD>(app::EngineNotCreated), threadExit);
    EXPECT_TRUE(watcher.Stop().empty()) << "a silent run shows no box";
}

TEST_F(EngineThread, NoEngineTellsAnInteractiveUser)
{
    // The log's error watch gives the box its reason.
    app::SetUpLog();
    osh::SetLogger(app::SharedLogger());
    app::ResetRunSummary();
    app::Shell().Interactive = true;
    app::SetEngineFactory(NoEngine);
    testenv::MessageBoxWatcher watcher({IDOK});
    DWORD threadExit = 0;
    EXPECT_EQ(-1, RunEngineThread(threadExit));
    const auto boxes = watcher.Stop();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(Title, boxes[0].caption);
    EXPECT_EQ(L"Fatal Error\nEngine ended with -1 before reporting an outcome (" + app::SetupLogFile() + L")",
              boxes[0].text);
}

TEST_F(EngineThread, SummaryIsCopiedOutBeforeTheEngineIsDeleted)
{
    app::ResetRunSummary();
    app::SetEngineFactory(MakeScriptedEngine);
    g_setupDirectory = scratch_ + L"\\setup";
    // Stopped before the first state, so the summary holds the parsed command line only.
    SetEvent(shutdown_.get());
    DWORD threadExit = 1234;
    EXPECT_EQ(std::nullopt, RunEngineThread(threadExit, 1500));
    const app::EngineSummary summary = app::ReadEngineSummary();
    EXPECT_TRUE(summary.ran);
    EXPECT_EQ(ziz::INSTALL, summary.mode) << "the test program's command line has no mode switch";
    EXPECT_TRUE(summary.report.Components().empty());
    app::ResetRunSummary();
}

// ---- end of a run: log lines and the result ------------------------------------------

TEST(RunEnd, FirstLineNamesVersionModeAndWholeCommandLine)
{
    EXPECT_EQ("Setup 5.0.1036.11000 started, mode UNINSTALL, command line: \"C:\\a b\\Setup.exe\" /uninstall /silent",
              app::FirstLogLine(L"5.0.1036.11000", ziz::UNINSTALL, L"\"C:\\a b\\Setup.exe\" /uninstall /silent"));
    EXPECT_EQ("Setup (unknown version) started, mode INSTALL, command line: x", app::FirstLogLine(L"", ziz::INSTALL, L"x"));
}

TEST(RunEnd, FactsAndLastLineForEachWayARunEnds)
{
    app::EngineSummary engine;
    engine.ran = true;
    engine.mode = ziz::UPDATE;
    engine.lastStatus = ziz::StatusSucceeded;
    app::EngineSummary upToDate = engine;
    upToDate.mode = ziz::CHECK;
    upToDate.lastStatus = ziz::StatusUpToDate;
    app::EngineSummary handedOver = engine;
    handedOver.report.SetHandedOver(1);
    app::EngineSummary failed = engine;
    failed.lastStatus = ziz::StatusFailed;
    failed.report.SetFailureReason("Installer of base.msi ended with 1603");
    const app::EngineSummary none;
    app::EngineSummary busy = failed;
    busy.report = ziz::RunReport();
    busy.report.SetHoldBack(ziz::HoldBack::Busy);
    busy.report.SetHoldBack(ziz::HoldBack::Deferred);  // the first reason counts
    app::EngineSummary deferred = busy;
    deferred.report = ziz::RunReport();
    deferred.report.SetHoldBack(ziz::HoldBack::Deferred);
    app::EngineSummary restartPending = busy;
    restartPending.report = ziz::RunReport();
    restartPending.report.SetHoldBack(ziz::HoldBack::RestartPending);
    app::HandledOutcome exited;
    exited.handedOver = true;

    struct Row {
        const char* name;
        app::HandledOutcome outcome;
        app::EngineSummary summary;
        int exitCode;
        app::RunEnding ending;
        const char* line;
        const char* reason;
    };
    const Row rows[] = {
        {"success", {}, engine, 0, app::RunEnding::Reported, "Setup ended, mode UPDATE, outcome succeeded, exit code 0, restart needed no", ""},
        {"restart", {}, engine, 1, app::RunEnding::Reported, "Setup ended, mode UPDATE, outcome succeeded, exit code 1, restart needed yes", ""},
        {"up to date", {}, upToDate, 1, app::RunEnding::Reported, "Setup ended, mode CHECK, outcome up to date, exit code 1, restart needed no", ""},
        {"hand-over by the engine", {}, handedOver, 1, app::RunEnding::Reported,
         "Setup ended, mode UPDATE, outcome handed over, exit code 1, restart needed yes", ""},
        {"hand-over by the window", exited, none, -1, app::RunEnding::Reported,
         "Setup ended, mode DOWNLOAD, outcome handed over, exit code -1, restart needed no", "No cause was recorded"},
        {"failure", {}, failed, -1, app::RunEnding::Reported, "Setup ended, mode UPDATE, outcome failed, exit code -1, restart needed no",
         "Installer of base.msi ended with 1603"},
        {"no engine", {}, none, -1, app::RunEnding::Reported, "Setup ended, mode DOWNLOAD, outcome failed, exit code -1, restart needed no",
         "Cannot create the progress window"},
        {"server", {}, none, -1, app::RunEnding::Refused, "Setup ended, mode DOWNLOAD, outcome refused, exit code -1, restart needed no",
         "Refused on a server edition: Microsoft Windows Server 2022 (build 20348)"},
        // Closed before an outcome: never success, whatever the window's quit code, and a
        // check never answers "update available".
        {"cancelled", {}, engine, -1, app::RunEnding::Cancelled,
         "Setup ended, mode UPDATE, outcome cancelled, exit code -1, restart needed no",
         "Cancelled: the window was closed before the run reported an outcome"},
        {"cancelled check", {}, upToDate, -1, app::RunEnding::Cancelled,
         "Setup ended, mode CHECK, outcome cancelled, exit code -1, restart needed no",
         "Cancelled: the window was closed before the run reported an outcome"},
        {"busy", {}, busy, -1, app::RunEnding::Reported, "Setup ended, mode UPDATE, outcome busy, exit code -1, restart needed no",
         "No cause was recorded"},
        {"deferred", {}, deferred, -1, app::RunEnding::Reported, "Setup ended, mode UPDATE, outcome deferred, exit code -1, restart needed no",
         "No cause was recorded"},
        {"restart pending", {}, restartPending, -1, app::RunEnding::Reported,
         "Setup ended, mode UPDATE, outcome restart pending, exit code -1, restart needed no", "No cause was recorded"},
        {"held back but handed over", exited, busy, -1, app::RunEnding::Reported,
         "Setup ended, mode UPDATE, outcome handed over, exit code -1, restart needed no", "No cause was recorded"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::string firstError;
        if (std::string(row.name) == "no engine") firstError = "Cannot create the progress window";
        if (std::string(row.name) == "server") firstError = "Refused on a server edition: Microsoft Windows Server 2022 (build 20348)";
        const app::RunFacts facts =
            app::GatherRunFacts(row.outcome, row.summary, firstError, row.exitCode, ziz::DOWNLOAD, row.ending);
        EXPECT_EQ(row.line, app::LastLogLine(facts));
        EXPECT_EQ(row.reason, facts.failureReason);
    }
}

// ---- the gates before a run changes anything ------------------------------------------

TEST(RunGates, WaitStepFollowsCloseThenFreeThenBound)
{
    struct Row {
        bool free;
        bool cancelled;
        ULONGLONG waited;
        ULONGLONG bound;
        ziz::WaitStep step;
    };
    const Row rows[] = {
        {true, false, 0, 600000, ziz::WaitStep::Go},
        {true, false, 900000, 600000, ziz::WaitStep::Go},      // free at the last look still goes
        {false, false, 0, 600000, ziz::WaitStep::Wait},
        {false, false, 599999, 600000, ziz::WaitStep::Wait},
        {false, false, 600000, 600000, ziz::WaitStep::GiveUp},
        {false, false, 0, 0, ziz::WaitStep::GiveUp},           // no wait at all: held means give up
        {false, true, 0, 600000, ziz::WaitStep::Stop},
        {true, true, 0, 600000, ziz::WaitStep::Stop},          // a closed run does not start its work
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.step, ziz::DecideWaitStep(row.free, row.cancelled, row.waited, row.bound))
            << row.free << row.cancelled << " " << row.waited << "/" << row.bound;
    }
}

TEST(RunGates, WaitBoundsComeFromWholeSecondsUpToADay)
{
    EXPECT_EQ(600000u, ziz::WaitBoundMs("600", 10));
    EXPECT_EQ(0u, ziz::WaitBoundMs("0", 10));
    EXPECT_EQ(86400000u, ziz::WaitBoundMs("86400", 10));
    for (const char* bad : {"", "-5", "2.5", "ten", "86401", " 5", "99999999999"})
        EXPECT_EQ(10000u, ziz::WaitBoundMs(bad, 10)) << "\"" << bad << "\"";
    const ziz::GateSettings settings = ziz::ReadGateSettings();
    EXPECT_EQ(600000u, settings.setupWaitMs);
    EXPECT_EQ(3600000u, settings.jobWaitMs);
    EXPECT_EQ(L"Global\\Norlo5-BackupJob", settings.jobObjectName);
}

TEST(RunGates, LockClaimsAreAProcessAndAHandleAndNothingElse)
{
    ziz::LockClaim claim;
    ASSERT_TRUE(ziz::ParseLockClaim(L"/runlock=328.1234", claim));
    EXPECT_EQ(328u, claim.holderId);
    EXPECT_EQ(1234u, claim.handle);
    EXPECT_TRUE(ziz::ParseLockClaim(L"/RunLock=1.4", claim));
    EXPECT_EQ(L"/runlock=328.1234", ziz::LockClaimSwitch(ziz::LockClaim{328, 1234}));
    for (const wchar_t* bad : {L"/runlock=", L"/runlock=328", L"/runlock=328.", L"/runlock=.12", L"/runlock=0.12",
                               L"/runlock=12.0", L"/runlock=-1.12", L"/runlock=1.2.3", L"/runlock=4294967296.4",
                               L"--runlock=1.4", L"/runlockx=1.4"})
        EXPECT_FALSE(ziz::ParseLockClaim(bad, claim)) << testenv::Narrow(bad);
    // The program knows the switch, but only with a value and a slash.
    std::wstring unknown;
    EXPECT_FALSE(ziz::FindUnknownSwitch({L"Setup.exe", L"/check", L"/runlock=1.4"}, unknown));
    EXPECT_TRUE(ziz::FindUnknownSwitch({L"Setup.exe", L"/runlock"}, unknown));
    EXPECT_TRUE(ziz::FindUnknownSwitch({L"Setup.exe", L"--runlock=1.4"}, unknown));
}

TEST(RunGates, LockCreationTellsTakenFromHeldFromBroken)
{
    EXPECT_EQ(ziz::LockLook::Taken, ziz::LookAtLockCreation(true, ERROR_SUCCESS));
    EXPECT_EQ(ziz::LockLook::HeldElsewhere, ziz::LookAtLockCreation(true, ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ziz::LockLook::HeldElsewhere, ziz::LookAtLockCreation(false, ERROR_ACCESS_DENIED));
    EXPECT_EQ(ziz::LockLook::Broken, ziz::LookAtLockCreation(false, ERROR_INVALID_HANDLE));  // a name of another type
    EXPECT_EQ(ziz::LockLook::Broken, ziz::LookAtLockCreation(false, ERROR_NOT_ENOUGH_MEMORY));
}

TEST(RunGates, HeldLockIsClosedToOthersAndPassedOnOnlyByItsHolder)
{
    ASSERT_EQ(ziz::LockOutcome::Taken, ziz::AcquireRunLock({L"test"}, 0, nullptr, nullptr));
    struct Release {
        ~Release() { ziz::ReleaseRunLock(); }
    } release;
    // A second look finds it held and, with no time to wait, gives up at once.
    osh::ScopedHandle second(CreateEventW(nullptr, TRUE, FALSE, ziz::kRunLockName));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    ASSERT_TRUE(second);
    // Only SYSTEM and Administrators may change it; its owner may only read it.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              GetSecurityInfo(second.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor));
    osh::ScopedLocalMemory descriptorMemory(descriptor);
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                     DACL_SECURITY_INFORMATION, &text, nullptr));
    osh::ScopedLocalMemory textMemory(text);
    EXPECT_EQ(std::wstring(ziz::kRunLockDescriptor), text);
    EXPECT_EQ(std::wstring(L"D:P(A;;GA;;;SY)(A;;GA;;;BA)(A;;RC;;;OW)"), text);
    // What a child of this run is given: its own claims dropped, this process's added.
    const auto passed = ziz::WithOwnLockClaim({L"Setup.exe", L"/runlock=1.4", L"/check", L"/RUNLOCK=9.9"});
    ASSERT_EQ(3u, passed.size());
    EXPECT_EQ(L"Setup.exe", passed[0]);
    EXPECT_EQ(L"/check", passed[1]);
    ziz::LockClaim own;
    ASSERT_TRUE(ziz::ParseLockClaim(passed[2], own));
    EXPECT_EQ(GetCurrentProcessId(), own.holderId);
    // Without the lock a run passes no claim on, not even the one it was given.
    ziz::ReleaseRunLock();
    EXPECT_EQ((std::vector<std::wstring>{L"Setup.exe", L"/check"}),
              ziz::WithOwnLockClaim({L"Setup.exe", L"/runlock=1.4", L"/check"}));
}

TEST(RunGates, BackupJobMarkFromWhatOpeningItsNameSays)
{
    EXPECT_EQ(ziz::JobMark::Running, ziz::JobMarkFromOpen(true, ERROR_SUCCESS));
    EXPECT_EQ(ziz::JobMark::Running, ziz::JobMarkFromOpen(false, ERROR_ACCESS_DENIED));   // closed to this run
    EXPECT_EQ(ziz::JobMark::Running, ziz::JobMarkFromOpen(false, ERROR_INVALID_HANDLE));  // a mutex, say
    EXPECT_EQ(ziz::JobMark::None, ziz::JobMarkFromOpen(false, ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ziz::JobMark::Unknown, ziz::JobMarkFromOpen(false, ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ziz::JobMark::Unknown, ziz::JobMarkFromOpen(false, ERROR_INVALID_NAME));
    // The real look, with the product marking its job by an event or by a mutex.
    const std::wstring name = L"Global\\NorloGateTestJob";
    EXPECT_EQ(ziz::JobMark::None, ziz::LookForBackupJob(name));
    {
        osh::ScopedHandle job(CreateEventW(nullptr, TRUE, FALSE, name.c_str()));
        EXPECT_EQ(ziz::JobMark::Running, ziz::LookForBackupJob(name));
    }
    {
        osh::ScopedHandle job(CreateMutexW(nullptr, FALSE, name.c_str()));
        EXPECT_EQ(ziz::JobMark::Running, ziz::LookForBackupJob(name));
    }
    EXPECT_EQ(ziz::JobMark::None, ziz::LookForBackupJob(name));
}

TEST(RunGates, PendingRestartStepByWhoIsAtTheScreen)
{
    struct Row {
        bool pending;
        bool interactive;
        bool unattended;
        ziz::PendingRestartStep step;
    };
    const Row rows[] = {
        {false, true, false, ziz::PendingRestartStep::Go},
        {false, false, true, ziz::PendingRestartStep::Go},
        {true, true, false, ziz::PendingRestartStep::Ask},
        {true, false, false, ziz::PendingRestartStep::Warn},
        {true, false, true, ziz::PendingRestartStep::Stop},
        {true, true, true, ziz::PendingRestartStep::Stop},  // "/norestart" asks nothing
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.step, ziz::DecidePendingRestart(row.pending, row.interactive, row.unattended))
            << row.pending << row.interactive << row.unattended;
    }
}

TEST(RunGates, RenameEntriesCountOnlyInTheProductsFolders)
{
    const std::vector<std::wstring> folders = {L"C:\\Program Files\\Norlo 5", L"C:\\ProgramData\\Norlo 5\\SetupFiles\\"};
    using namespace std::string_literals;
    // Pairs of source and target, a delete's target empty, a replacing target with "!".
    const std::wstring data =
        L"\\??\\C:\\Windows\\Temp\\a.tmp\0\0"
        L"\\??\\C:\\Windows\\Temp\\b.dll\0!\\??\\C:\\Program Files\\Norlo 5\\bin\\b.dll\0"
        L"\\??\\C:\\Program Files\\Norlo 5 Beta\\c.dll\0\0"
        L"\\??\\c:\\programdata\\norlo 5\\setupfiles\\old.msi\0\0"
        L"\\??\\C:\\Program Files\\Norlo 5\0\0"
        L"\\??\\C:\\Program Files\\Other\\d.dll\0\\??\\C:\\Program Files\\Other\\e.dll\0\0"s;
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Program Files\\Norlo 5\\bin\\b.dll",
                                         L"c:\\programdata\\norlo 5\\setupfiles\\old.msi", L"C:\\Program Files\\Norlo 5"}),
              ziz::RenamesUnder(data, folders));
    EXPECT_TRUE(ziz::RenamesUnder(L"", folders).empty());
    EXPECT_TRUE(ziz::RenamesUnder(L"\\??\\C:\\Program Files\\Norlo 5\\x.dll", {}).empty());
    // Without the terminating NULs, the last path still counts.
    EXPECT_EQ(1u, ziz::RenamesUnder(L"\\??\\C:\\Program Files\\Norlo 5\\x.dll", folders).size());
}

std::string ReadWhole(const std::wstring& path)
{
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) return "<missing>";
    std::string text(65536, '\0');
    DWORD read = 0;
    ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    text.resize(read);
    return text;
}

// Names in a folder, so a test sees a temporary file left behind.
std::vector<std::wstring> FolderNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") names.push_back(name);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    return names;
}

TEST(ResultFile, ReplacesAnOlderResultAndLeavesNoTemporaryFile)
{
    const std::wstring folder = testenv::MakeScratchDirectory(L"result-file");
    const std::wstring path = folder + L"\\result.json";
    ASSERT_TRUE(app::WriteResultFile(path, "{\"first\":1}"));
    ASSERT_TRUE(app::WriteResultFile(path, "{}"));
    EXPECT_EQ("{}", ReadWhole(path));
    EXPECT_EQ(std::vector<std::wstring>{L"result.json"}, FolderNames(folder));
    // A folder that does not exist is not made: nothing is written anywhere.
    EXPECT_FALSE(app::WriteResultFile(folder + L"\\missing\\result.json", "{}"));
    EXPECT_EQ(std::vector<std::wstring>{L"result.json"}, FolderNames(folder));
    // A read-only result in the way is not silently kept: the write reports failure.
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    const bool replaced = app::WriteResultFile(path, "{\"third\":3}");
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(replaced ? "{\"third\":3}" : "{}", ReadWhole(path));
    EXPECT_EQ(std::vector<std::wstring>{L"result.json"}, FolderNames(folder));
    testenv::RemoveTree(folder);
}

TEST_F(EngineThread, ExceptionEndsTheProcessWithMinusOne)
{
    app::SetEngineFactory(ThrowingEngine);
    DWORD threadExit = 1234;
    EXPECT_EQ(-1, RunEngineThread(threadExit));
    EXPECT_EQ(0u, threadExit);
}

TEST_F(EngineThread, NoWorkingDirectoryEndsTheProcessWithMinusOne)
{
    app::SetEngineFactory(MakeScriptedEngine);
    TemporaryDirectoryOverride temp(blocked_);
    DWORD threadExit = 0;
    EXPECT_EQ(-1, RunEngineThread(threadExit));
    EXPECT_EQ(static_cast<DWORD>(app::NoWorkingDirectory), threadExit);
}

TEST_F(EngineThread, UncreatableSetupDirectoryFallsBackToTemporaryDirectory)
{
    app::SetEngineFactory(MakeScriptedEngine);
    g_setupDirectory = blocked_ + L"setup";
    const std::wstring temporary = scratch_ + L"\\made\\for\\temp\\";
    TemporaryDirectoryOverride temp(temporary);
    // Stopped before the first state: the run ends without an outcome and without a failure.
    SetEvent(shutdown_.get());
    DWORD threadExit = 1234;
    EXPECT_EQ(std::nullopt, RunEngineThread(threadExit, 1500));
    EXPECT_EQ(0u, threadExit);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(temporary.c_str()));
}

TEST_F(EngineThread, SetupDirectoryIsCreated)
{
    app::SetEngineFactory(MakeScriptedEngine);
    g_setupDirectory = scratch_ + L"\\setup\\files";
    TemporaryDirectoryOverride temp(blocked_);
    SetEvent(shutdown_.get());
    DWORD threadExit = 1234;
    EXPECT_EQ(std::nullopt, RunEngineThread(threadExit, 1500));
    EXPECT_EQ(0u, threadExit);
    const DWORD attributes = GetFileAttributesW(g_setupDirectory.c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_NE(0u, attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ---- the whole executable -----------------------------------------------------------

struct Child {
    osh::ScopedHandle process;
    DWORD id = 0;
};

Child StartSetup(const std::wstring& arguments, const std::wstring& currentDirectory = L"")
{
    std::wstring commandLine = L"\"" + testenv::SetupExecutable() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    Child child;
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       currentDirectory.empty() ? nullptr : currentDirectory.c_str(), &startup, &started)) {
        CloseHandle(started.hThread);
        child.process.reset(started.hProcess);
        child.id = started.dwProcessId;
    }
    return child;
}

// Waits for the child; a child still running after the time-out is ended and reported
// with the code 0xDEAD.
DWORD WaitForExit(Child& child)
{
    if (WaitForSingleObject(child.process.get(), RunTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(child.process.get(), 0xDEAD);
        WaitForSingleObject(child.process.get(), 10000);
        return 0xDEAD;
    }
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    return code;
}

struct RunResult {
    DWORD exitCode = 0;
    std::vector<testenv::SeenBox> boxes;
};

RunResult RunSetup(const std::wstring& arguments, std::vector<int> answers = {},
                   const std::wstring& currentDirectory = L"")
{
    RunResult result;
    Child child = StartSetup(arguments, currentDirectory);
    EXPECT_TRUE(child.process.valid()) << "CreateProcess failed: " << GetLastError();
    if (!child.process) return result;
    testenv::MessageBoxWatcher watcher(std::move(answers), child.id);
    result.exitCode = WaitForExit(child);
    result.boxes = watcher.Stop();
    return result;
}

std::wstring EnvironmentValue(const wchar_t* name)
{
    wchar_t value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

bool IsPlainFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring DataFolder() { return EnvironmentValue(L"ProgramData") + L"\\Norlo 5"; }
std::wstring DataFolderSetAside() { return DataFolder() + L".set-aside"; }

// Removes a blocking file and brings a folder that was set aside back.
void LiftDataFolderBlock()
{
    if (IsPlainFile(DataFolder())) DeleteFileW(DataFolder().c_str());
    if (Exists(DataFolderSetAside()) && !Exists(DataFolder()))
        MoveFileExW(DataFolderSetAside().c_str(), DataFolder().c_str(), 0);
}

// Makes the product's data folder impossible to create for the life of the object, so
// every run fails in its first state whatever its mode: a plain file takes the folder's
// name, and the setup-files folder below it can then never be made (a plain file at the
// setup-files folder's own name would not do: creating a path that exists counts as done).
// A folder that was there is set aside and comes back afterwards, also after a test
// that ended early; a block an interrupted run left behind is lifted first.
class DataFolderBlock {
public:
    DataFolderBlock()
    {
        LiftDataFolderBlock();
        if (Exists(DataFolder()) && !MoveFileExW(DataFolder().c_str(), DataFolderSetAside().c_str(), 0)) return;
        osh::ScopedFile blocker(CreateFileW(DataFolder().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        blocked_ = blocker.valid();
    }
    ~DataFolderBlock() { LiftDataFolderBlock(); }
    DataFolderBlock(const DataFolderBlock&) = delete;
    DataFolderBlock& operator=(const DataFolderBlock&) = delete;

    bool Blocked() const { return blocked_ && IsPlainFile(DataFolder()); }

private:
    bool blocked_ = false;
};

// The key-store values every whole-executable run may write: the running program becomes
// the best bootstrapper candidate of each run, and the check tests point "updateURL" at
// their own document. All of them get their earlier state back.
class StoreValuesKept {
    testsupport::SavedStoreValue updateUrl_{L"Setup", L"updateURL"};
    testsupport::SavedStoreValue newestVersion_{L"Setup", L"NewestVersion"};
    testsupport::SavedStoreValue newestPath_{L"Setup", L"NewestPath"};
};

// Runs of the whole executable whose data folder cannot be made. Every run under Wine is
// elevated: it refuses the setup-files folder with one line, caches nothing there, logs in
// its work folder and goes on, and fails for want of a document and components (the test
// server publishes none for these runs).
class Startup : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(block_.Blocked()) << "cannot block " << testenv::Narrow(DataFolder());
        endtoend::ClearServerRequests();
    }

    // A run stopped before its first state (a switch it does not know) asked the server for nothing.
    void ExpectNothingFetched() const { EXPECT_EQ(std::vector<std::string>{}, endtoend::ServerRequests()); }
    // Nothing was made where the data folder belongs.
    void ExpectDataFolderUntouched() const { EXPECT_TRUE(IsPlainFile(DataFolder())) << "the blocking file stays"; }

    StoreValuesKept store_;
    DataFolderBlock block_;
};

TEST_F(Startup, SilentRunWalksToFailureAndExitsMinusOne)
{
    for (const wchar_t* arguments : {L"/silent", L"/SILENT", L"/Silent /check", L"/check /sIlEnT"}) {
        SCOPED_TRACE(testenv::Narrow(arguments));
        const auto run = RunSetup(arguments);
        EXPECT_EQ(FailureExitCode, run.exitCode);
        EXPECT_TRUE(run.boxes.empty());
    }
    ExpectDataFolderUntouched();
}

// The failure box is the proof that the run was interactive: a silent run never shows it.
TEST_F(Startup, ModeChoosesTheFailureText)
{
    for (const wchar_t* arguments : {L"/check", L"--check /server"}) {
        SCOPED_TRACE(testenv::Narrow(arguments));
        const auto run = RunSetup(arguments, {IDOK});
        EXPECT_EQ(FailureExitCode, run.exitCode);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(Title, run.boxes[0].caption);
        EXPECT_EQ(0u, run.boxes[0].text.find(L"Check for update failed\n")) << testenv::Narrow(run.boxes[0].text);
    }
    const auto install = RunSetup(L"", {IDOK});
    EXPECT_EQ(FailureExitCode, install.exitCode);
    ASSERT_EQ(1u, install.boxes.size());
    EXPECT_EQ(0u, install.boxes[0].text.find(L"Software install failed\n"));
    ExpectDataFolderUntouched();
}

// Lookalikes of the shell's switches used to leave the run interactive and going; a typo
// now ends it before anything happens, and the box says which word and what is known.
TEST_F(Startup, UnknownSwitchEndsTheRunBeforeAnythingHappens)
{
    for (const wchar_t* element : {L"/unistall", L"--silent", L"/silent=yes", L"-silent", L"uninstall"}) {
        SCOPED_TRACE(testenv::Narrow(element));
        const auto run = RunSetup(std::wstring(L"/check ") + element + L" /nocheck", {IDOK});
        EXPECT_EQ(FailureExitCode, run.exitCode);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(Title, run.boxes[0].caption);
        EXPECT_EQ(L"Unknown switch \"" + std::wstring(element) + L"\".\n\nKnown switches: " + ziz::KnownSwitchList(),
                  run.boxes[0].text);
        // Which icon is checked in-process (WindowTest): under Wine an icon handle is only
        // meaningful inside the process that loaded it.
        EXPECT_NE(nullptr, run.boxes[0].icon);
    }
    for (const wchar_t* arguments : {L"/silent /unistall", L"/norestart /unistall"}) {
        SCOPED_TRACE(testenv::Narrow(arguments));
        const auto run = RunSetup(arguments);
        EXPECT_EQ(FailureExitCode, run.exitCode);
        EXPECT_TRUE(run.boxes.empty()) << "nobody is at the screen";
    }
    ExpectNothingFetched();
}

TEST_F(Startup, UnknownSwitchStillWritesTheResult)
{
    const std::wstring folder = testenv::MakeScratchDirectory(L"startup-result");
    const std::wstring path = folder + L"\\result.json";
    const auto run = RunSetup(L"/silent /uninstall /unistall \"/result=" + path + L"\"");
    EXPECT_EQ(FailureExitCode, run.exitCode);
    const std::string result = ReadWhole(path);
    const std::string refusal = "Unknown switch \\\"/unistall\\\"; known switches: " + testenv::Narrow(ziz::KnownSwitchList());
    EXPECT_EQ(0u, result.find("{\"mode\":\"UNINSTALL\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"" + refusal + "\",\"components\":[],\"logFiles\":[\""))
        << result;
    // The data folder is blocked, so no line reaches the setup log there: the elevated run
    // logs in its work folder, which the result names and which stays when the run removes
    // the rest.
    const std::string::size_type begin = result.find("\"logFiles\":[\"") + 13;
    const std::string::size_type end = result.find("\"]}", begin);
    ASSERT_NE(std::string::npos, end) << result;
    std::string fallback = result.substr(begin, end - begin);
    for (std::string::size_type at = 0; (at = fallback.find("\\\\", at)) != std::string::npos; ++at) fallback.erase(at, 1);
    EXPECT_TRUE(std::regex_search(fallback, std::regex(R"(\\Norlo-\{[-0-9a-f]+\}\\setup\.log$)"))) << fallback;
    const std::string lines = ReadWhole(testenv::Widen(fallback));
    EXPECT_NE(std::string::npos, lines.find(":E:Unknown switch \"/unistall\"")) << lines;
    EXPECT_NE(std::string::npos, lines.find("Setup ended, mode UNINSTALL, outcome failed, exit code -1")) << lines;
    testenv::RemoveTree(testenv::Widen(fallback.substr(0, fallback.find_last_of('\\'))));
    testenv::RemoveTree(folder);
}

// Where the result goes is judged before anything happens, like an unknown switch: a
// folder that is not there, or a link at the path, ends the run with a line and -1.
TEST_F(Startup, ResultPathThatCannotBeWrittenIsRefusedBeforeAnythingHappens)
{
    const std::wstring folder = testenv::MakeScratchDirectory(L"startup-result-refused");
    const std::wstring missing = folder + L"\\missing\\result.json";
    auto run = RunSetup(L"/check /silent \"/result=" + missing + L"\"");
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_FALSE(Exists(folder + L"\\missing"));

    // Someone at the screen is told why.
    run = RunSetup(L"/check \"/result=" + missing + L"\"", {IDOK});
    EXPECT_EQ(FailureExitCode, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(L"The result file \"" + missing + L"\" is refused: its folder " + folder + L"\\missing does not exist",
              run.boxes[0].text);

    // A link at the path (a folder link: Wine shows no file links) is never written through.
    testsupport::CanaryFolder canary(L"result-link-target");
    testsupport::FolderLink link(folder + L"\\result.json", canary.folder);
    run = RunSetup(L"/check \"/result=" + link.path + L"\"", {IDOK});
    EXPECT_EQ(FailureExitCode, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(L"The result file \"" + link.path + L"\" is refused: " + link.path + L" is a link", run.boxes[0].text);
    EXPECT_TRUE(canary.Intact());
    EXPECT_TRUE(link.Present());
    ExpectNothingFetched();
    testenv::RemoveTree(folder);
}

// A relative path is the caller's: it is resolved against the caller's current directory.
TEST_F(Startup, RelativeResultPathIsResolvedAgainstTheCallersCurrentDirectory)
{
    const std::wstring folder = testenv::MakeScratchDirectory(L"startup-result-relative");
    const auto run = RunSetup(L"/silent /unistall /result=relative.json", {}, folder);
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_EQ(0u, ReadWhole(folder + L"\\relative.json").find("{\"mode\":\"INSTALL\",\"outcome\":\"failed\""));
    testenv::RemoveTree(folder);
}

TEST_F(Startup, FailedRunWritesItsResultAndNoBoxWhenUnattended)
{
    const std::wstring folder = testenv::MakeScratchDirectory(L"startup-result");
    const std::wstring path = folder + L"\\result.json";
    // Interactive, but nobody at the screen: the failure box stays away too.
    const auto run = RunSetup(L"/download /norestart /result=" + path);
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    const std::string result = ReadWhole(path);
    EXPECT_EQ(0u, result.find("{\"mode\":\"DOWNLOAD\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"")) << result;
    // The cause in words: the document the run could not fetch, with its address and why.
    EXPECT_NE(std::string::npos, result.find("\"failureReason\":\"Download of \\\"http://")) << result;
    EXPECT_NE(std::string::npos, result.find("/update.xml\\\" failed: HTTP 404\"")) << result;
    ExpectDataFolderUntouched();
    testenv::RemoveTree(folder);
}

// Without a desktop no window can be made: the run must not claim success.
TEST_F(Startup, NoDisplayEndsWithMinusOne)
{
    const std::wstring display = EnvironmentValue(L"DISPLAY");
    // A display nobody serves; the child's Unix environment is built from this one.
    SetEnvironmentVariableW(L"DISPLAY", L":97");
    const auto run = RunSetup(L"/silent");
    SetEnvironmentVariableW(L"DISPLAY", display.empty() ? nullptr : display.c_str());
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    ExpectDataFolderUntouched();
}

// Check runs against the test server: the answer is the exit code, and no box appears
// whether the run is silent or not.
class CheckRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        LiftDataFolderBlock();  // a block an interrupted test left would fail every run
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            testsupport::DeleteStoreValue(hive, L"Setup", L"updateURL");
        }
        endtoend::ClearServerRequests();
    }
    void TearDown() override { endtoend::CleanRelease(); }

    static void SetUpdateUrl(const std::wstring& url)
    {
        testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, url.c_str(),
                                     static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t)));
    }

    static std::wstring StoreValue(const wchar_t* name)
    {
        std::wstring value;
        EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", name, value)) << testenv::Narrow(name);
        return value;
    }

    // Requests whose path ends with the text.
    static size_t RequestsEndingWith(const std::string& end)
    {
        size_t count = 0;
        for (const auto& request : endtoend::ServerRequests()) {
            count += request.size() >= end.size() && request.compare(request.size() - end.size(), end.size(), end) == 0;
        }
        return count;
    }

    StoreValuesKept store_;
};

std::string BootstrapperDocument(const std::wstring& url, const std::wstring& version)
{
    return "<?xml version=\"1.0\" encoding=\"us-ascii\"?><Installer><bootstrapper><Item Order=\"0\"><url>" +
           testenv::Narrow(url) + "</url><filename>Setup.exe</filename><version>" + testenv::Narrow(version) +
           "</version></Item></bootstrapper></Installer>";
}

TEST_F(CheckRun, NothingNewerExitsOne)
{
    std::wstring running;
    ASSERT_TRUE(ziz::ReadFileVersion(running, testenv::SetupExecutable()));
    ASSERT_EQ(testenv::Widen(NORLO_VERSION_TEXT), running);
    // The document announces the running version itself: an equal version is not newer.
    testsupport::ServedFolder served(L"startup-check");
    served.Put(L"update.xml", BootstrapperDocument(served.Url(L"Setup.exe"), running));
    SetUpdateUrl(served.Url(L"update.xml"));

    for (const wchar_t* arguments : {L"/check", L"/check /silent"}) {
        SCOPED_TRACE(testenv::Narrow(arguments));
        const auto run = RunSetup(arguments);
        EXPECT_EQ(1u, run.exitCode);
        EXPECT_TRUE(run.boxes.empty());
    }
    // Both runs read the document; a check never fetches the bootstrapper itself.
    EXPECT_EQ(2u, RequestsEndingWith("/update.xml"));
    EXPECT_EQ(2u, endtoend::ServerRequests().size());
    EXPECT_EQ(running, StoreValue(L"NewestVersion"));
}

TEST_F(CheckRun, UnreadableDocumentFailsTheCheck)
{
    testsupport::ServedFolder served(L"startup-check");
    // The server answers with an error page, which the download still reports as fetched:
    // not knowing is not "up to date".
    SetUpdateUrl(served.Url(L"update.xml", L"404/"));
    const auto run = RunSetup(L"/check /silent");
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
    EXPECT_EQ(1u, RequestsEndingWith("/update.xml"));
}

TEST_F(CheckRun, NewerBootstrapperExitsZeroAndIsRemembered)
{
    endtoend::LayOutRelease();
    // The served copy of the sample release's document; the built-in address names the
    // port the build chose, which another test server on this machine may hold.
    SetUpdateUrl(endtoend::ServerAddress() + L"/update.xml");
    for (const wchar_t* arguments : {L"/check", L"/SILENT /check"}) {
        SCOPED_TRACE(testenv::Narrow(arguments));
        const auto run = RunSetup(arguments);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.boxes.empty());
    }
    EXPECT_EQ(2u, RequestsEndingWith("/update.xml"));
    EXPECT_EQ(2u, endtoend::ServerRequests().size()) << "a check downloads nothing but the document";
    EXPECT_EQ(kSampleRelease, StoreValue(L"NewestVersion"));
    EXPECT_EQ(testenv::Widen(NORLO_UPDATE_SERVER) + L"/5.0/norlo5/" + kSampleRelease + L"/release/norlo5-Setup-" +
                  kSampleRelease + L".exe",
              StoreValue(L"NewestPath"));
}

// Keeps the values of some registry keys and puts them back exactly: values that were
// added are removed, values that were changed get their old data.
class RegistrySnapshot {
public:
    RegistrySnapshot(HKEY root, const std::wstring& path, REGSAM view) : root_(root), path_(path), view_(view)
    {
        osh::ScopedKey key;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ | view_, key.receive()) != ERROR_SUCCESS) return;
        for (DWORD index = 0;; ++index) {
            Value value;
            wchar_t name[256];
            DWORD nameLength = 256;
            BYTE data[2048];
            DWORD dataLength = sizeof(data);
            if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &value.type, data, &dataLength) !=
                ERROR_SUCCESS) {
                break;
            }
            value.name.assign(name, nameLength);
            value.data.assign(data, data + dataLength);
            values_.push_back(value);
        }
    }

    void Restore() const
    {
        osh::ScopedKey key;
        if (RegOpenKeyExW(root_, path_.c_str(), 0, KEY_READ | KEY_SET_VALUE | view_, key.receive()) != ERROR_SUCCESS) {
            return;
        }
        std::vector<std::wstring> present;
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            DWORD nameLength = 256;
            if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            present.emplace_back(name, nameLength);
        }
        for (const auto& name : present) {
            bool kept = false;
            for (const auto& value : values_) kept = kept || value.name == name;
            if (!kept) RegDeleteValueW(key.get(), name.c_str());
        }
        for (const auto& value : values_) {
            RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size()));
        }
    }

private:
    struct Value {
        std::wstring name;
        DWORD type = 0;
        std::vector<BYTE> data;
    };
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    std::vector<Value> values_;
};

// Makes the prefix a server edition for the programs started by the tests of this suite.
// The system's version is read when a process starts, so the test process itself keeps
// the edition it started with; the prefix gets its own edition back afterwards.
class ServerEdition : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            snapshots_.emplace_back(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", view);
        }
        snapshots_.emplace_back(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\ProductOptions",
                                KEY_WOW64_64KEY);
        snapshots_.emplace_back(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Windows", KEY_WOW64_64KEY);
        const auto configured = testenv::Run(L"winecfg.exe -v win2008r2", 60000);
        ASSERT_TRUE(configured.finished);
    }

    static void TearDownTestSuite()
    {
        for (const auto& snapshot : snapshots_) snapshot.Restore();
        snapshots_.clear();
    }

    void SetUp() override
    {
        // A run that is not refused fails in its first state instead of reaching out.
        ASSERT_TRUE(block_.Blocked()) << "cannot block " << testenv::Narrow(DataFolder());
    }

    static std::vector<RegistrySnapshot> snapshots_;
    StoreValuesKept store_;
    DataFolderBlock block_;
};

std::vector<RegistrySnapshot> ServerEdition::snapshots_;

TEST_F(ServerEdition, InteractiveRunIsRefused)
{
    for (const wchar_t* arguments : {L"", L"/check", L"--check /viewer"}) {
        SCOPED_TRACE(testenv::Narrow(arguments));
        const auto run = RunSetup(arguments, {IDOK});
        // Nothing was installed: a deployment tool reading the exit code must not take it for success.
        EXPECT_EQ(FailureExitCode, run.exitCode);
        ASSERT_EQ(1u, run.boxes.size());
        EXPECT_EQ(ServerRefusal, run.boxes[0].text);
        // The caption is the system's description.
        EXPECT_NE(std::wstring::npos, run.boxes[0].caption.find(L"Server")) << testenv::Narrow(run.boxes[0].caption);
        EXPECT_EQ(nullptr, run.boxes[0].owner);
        EXPECT_TRUE(run.boxes[0].topmost);
    }
}

// Refused runs end with 0 and a box; these walk the states to the failure.
TEST_F(ServerEdition, ServerSwitchRuns)
{
    auto run = RunSetup(L"/server /silent");
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());

    run = RunSetup(L"/SERVER /check", {IDOK});
    EXPECT_EQ(FailureExitCode, run.exitCode);
    ASSERT_EQ(1u, run.boxes.size());
    EXPECT_EQ(0u, run.boxes[0].text.find(L"Check for update failed\n")) << testenv::Narrow(run.boxes[0].text);
}

TEST_F(ServerEdition, SilentRunIsNotRefused)
{
    const auto run = RunSetup(L"/silent");
    EXPECT_EQ(FailureExitCode, run.exitCode);
    EXPECT_TRUE(run.boxes.empty());
}

}  // namespace
