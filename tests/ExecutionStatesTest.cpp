// The states that change the machine, against real processes, windows, files and the
// registry: closing the product's programs, running install commands for the chosen
// install type, running the registered uninstall commands last first, and purging the
// product's data folder.
#include "engine/DeleteDirectory.h"
#include "engine/InstallerLogs.h"
#include "engine/InstallerRun.h"
#include "engine/ProcessWindows.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateFinishingInstall.h"
#include "engine/states/StateFinishingUninstall.h"
#include "engine/states/StatePerformingInstalls.h"
#include "engine/states/StatePerformingSoftwareStops.h"
#include "engine/states/StatePerformingUninstalls.h"
#include "engine/states/StatePurgingFiles.h"
#include "osh/Exception.h"
#include "osh/PersistentStore.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/StateFiles.h"
#include "support/StateTestFiles.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using statetest::Exists;
using statetest::PlaceStandIn;
using statetest::Quoted;
using statetest::RecordedLines;
using testenv::Narrow;

InstallItem Item(const std::wstring& file, const std::wstring& viewer, const std::wstring& services,
                 const std::wstring& command)
{
    InstallItem item;
    item.Filename = file;
    item.LocalPath = L"C:\\setup files\\" + file;
    if (!viewer.empty()) item.SetProperty(L"viewer", viewer);
    if (!services.empty()) item.SetProperty(L"services", services);
    if (!command.empty()) item.SetProperty(L"installCmd", command);
    return item;
}

// A command naming [APP] runs the component's file, which must be there to be checked.
InstallItem WithLocalPath(InstallItem item, const std::wstring& path)
{
    item.LocalPath = path;
    return item;
}

// The run report's record of a file; a default record when there is none.
ziz::ComponentRecord RecordOf(ziz::Worker& worker, const std::wstring& file)
{
    for (const ziz::ComponentRecord& record : worker.Report().Components())
        if (record.file == file) return record;
    return ziz::ComponentRecord{L"<none>", ziz::ComponentAction::Reused, false, 0, std::string(), std::wstring()};
}

// The wait between retries of a busy installer, replaced for one test: every wait is
// recorded, and after `waitsBeforeSuccess` waits the stand-in named in `calmedStandIn`
// ends with 0 from then on (the other installation finished).
std::vector<unsigned long> g_waits;
size_t g_waitsBeforeSuccess = 0;
std::wstring g_calmedStandIn;

void RecordWait(unsigned long milliseconds)
{
    g_waits.push_back(milliseconds);
    if (!g_calmedStandIn.empty() && g_waits.size() == g_waitsBeforeSuccess)
        statetest::SetStandInExitCode(g_calmedStandIn, 0);
}

class RecordedWaits {
public:
    explicit RecordedWaits(const std::wstring& calmedStandIn = L"", size_t waitsBeforeSuccess = 0)
        : previous_(ziz::SetInstallerSleepFunction(RecordWait))
    {
        g_waits.clear();
        g_calmedStandIn = calmedStandIn;
        g_waitsBeforeSuccess = waitsBeforeSuccess;
    }
    ~RecordedWaits()
    {
        ziz::SetInstallerSleepFunction(previous_);
        g_calmedStandIn.clear();
    }
    RecordedWaits(const RecordedWaits&) = delete;
    RecordedWaits& operator=(const RecordedWaits&) = delete;

private:
    ziz::InstallerSleepFunction previous_;
};

class ExecutionStates : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch = testenv::MakeScratchDirectory(L"exec");
        temp = scratch + L"\\temp dir";
        statetest::MakeFolders(temp);
        worker.paths[ziz::evTempDir] = temp;
        worker.paths[ziz::evInstall32] = scratch + L"\\Programs32\\Norlo 5";
        worker.paths[ziz::evInstall64] = scratch + L"\\Programs64\\Norlo 5";
        worker.paths[ziz::evSetup] = scratch + L"\\data\\Norlo 5\\SetupFiles";
        recorder = scratch + L"\\tools\\recorder.exe";
        PlaceStandIn(recorder);
    }
    void TearDown() override { testenv::RemoveTree(scratch); }


    std::wstring scratch, temp, recorder;
    statetest::RecordingWorker worker;
    testsupport::LogCapture log;
};

// --- Software stops -------------------------------------------------------------------

class SoftwareStops : public ExecutionStates {
protected:
    void SetUp() override
    {
        ExecutionStates::SetUp();
        saved32 = std::make_unique<testsupport::SavedStoreValue>(L"Setup", L"DirInstall32");
        saved64 = std::make_unique<testsupport::SavedStoreValue>(L"Setup", L"DirInstall64");
        dir32 = scratch + L"\\Norlo 5";
        dir64 = scratch + L"\\Programs64\\Norlo 5";
        osh::SetPersistentValue(L"Setup", L"DirInstall32", dir32);
        osh::SetPersistentValue(L"Setup", L"DirInstall64", dir64);
    }
    void TearDown() override
    {
        saved64.reset();
        saved32.reset();
        ExecutionStates::TearDown();
    }

    std::unique_ptr<testsupport::SavedStoreValue> saved32, saved64;
    std::wstring dir32, dir64;
};

TEST_F(SoftwareStops, SuccessorFollowsTheMode)
{
    worker.SetMode(ziz::INSTALL);
    EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StatePerformingInstalls::Instance());
    worker.SetMode(ziz::UPDATE);
    EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StatePerformingInstalls::Instance());
    worker.SetMode(ziz::UNINSTALL);
    EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    EXPECT_EQ(log.IndexOf("Invalid mode found in StatePerformingSoftwareStops"), -1);
    for (ziz::InstallMode mode : {ziz::DOWNLOAD, ziz::CHECK, ziz::APPLIANCE, ziz::INVALID}) {
        log.Clear();
        worker.SetMode(mode);
        EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StateFailed::Instance())
            << "mode " << static_cast<int>(mode);
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in StatePerformingSoftwareStops"));
    }
}

TEST_F(SoftwareStops, ProductProgramsAreAskedToCloseOthersAreLeftAlone)
{
    // Only a program inside an installed folder counts: a sibling folder whose name merely
    // begins with the installation folder's ("Norlo 5 Beta") is another product. The
    // letter case of the recorded folder does not matter, as for the file system.
    const std::wstring sibling = scratch + L"\\Norlo 5 Beta\\tray.exe";
    const std::wstring in64 = dir64 + L"\\bin\\agent.exe";
    const std::wstring elsewhere = scratch + L"\\Other\\tray.exe";
    const std::wstring otherCase = scratch + L"\\NORLO 5\\upper.exe";
    for (const auto& path : {sibling, in64, elsewhere, otherCase}) PlaceStandIn(path);
    statetest::WindowedStandIn siblingRun(sibling, L"stand-in sibling");
    statetest::WindowedStandIn in64Run(in64, L"stand-in 64");
    statetest::WindowedStandIn elsewhereRun(elsewhere, L"stand-in elsewhere");
    statetest::WindowedStandIn otherCaseRun(otherCase, L"stand-in other case");
    ASSERT_TRUE(siblingRun.Ready() && in64Run.Ready() && elsewhereRun.Ready() && otherCaseRun.Ready());

    worker.SetMode(ziz::UNINSTALL);
    EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());

    EXPECT_TRUE(otherCaseRun.WaitForExit(15000));
    EXPECT_TRUE(in64Run.WaitForExit(15000));
    EXPECT_EQ(RecordedLines(otherCase), (std::vector<std::string>{"ready", "WM_CLOSE"}));
    EXPECT_EQ(RecordedLines(in64), (std::vector<std::string>{"ready", "WM_CLOSE"}));
    EXPECT_FALSE(elsewhereRun.WaitForExit(500));
    EXPECT_FALSE(siblingRun.WaitForExit(0));
    EXPECT_EQ(RecordedLines(elsewhere), std::vector<std::string>{"ready"});
    EXPECT_EQ(RecordedLines(sibling), std::vector<std::string>{"ready"});
}

TEST_F(SoftwareStops, AHungProductWindowIsSkippedWithAWarningAndTheOthersStillClose)
{
    const std::wstring hung = dir32 + L"\\hung.exe";
    const std::wstring tray = dir32 + L"\\tray.exe";
    PlaceStandIn(hung);
    PlaceStandIn(tray);
    statetest::WindowedStandIn hungRun(hung, L"stand-in hung", true);
    statetest::WindowedStandIn trayRun(tray, L"stand-in tray");
    ASSERT_TRUE(hungRun.Ready() && trayRun.Ready());

    worker.SetMode(ziz::INSTALL);
    const DWORD start = GetTickCount();
    EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StatePerformingInstalls::Instance());
    // One bounded wait for the hung window, not a blocked run.
    EXPECT_LT(GetTickCount() - start, 2 * ziz::kCloseWindowTimeoutMs + 5000);

    EXPECT_TRUE(trayRun.WaitForExit(15000));
    EXPECT_EQ(RecordedLines(tray), (std::vector<std::string>{"ready", "WM_CLOSE"}));
    EXPECT_FALSE(hungRun.WaitForExit(0));
    int warnings = 0;
    std::string seen;
    for (const auto& line : log.Lines()) {
        if (line.text.find("does not answer the request to close") == std::string::npos) continue;
        ++warnings;
        seen += line.text + "\n";
        EXPECT_EQ(line.priority, Message::PRIO_WARNING);
        EXPECT_EQ(line.text.rfind("Window of " + Narrow(hung) + " does not answer the request to close, skipped (", 0),
                  0u)
            << line.text;
    }
    EXPECT_EQ(warnings, 1) << seen;
}

TEST_F(SoftwareStops, NoInstalledDirectoriesClosesNothing)
{
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"DirInstall32");
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"DirInstall64");
    const std::wstring program = scratch + L"\\Anything\\tray.exe";
    PlaceStandIn(program);
    statetest::WindowedStandIn run(program, L"stand-in anything");
    ASSERT_TRUE(run.Ready());
    worker.SetMode(ziz::INSTALL);
    EXPECT_EQ(ziz::StatePerformingSoftwareStops::Instance()->Exec(worker), ziz::StatePerformingInstalls::Instance());
    EXPECT_FALSE(run.WaitForExit(500));
}

// --- Installs --------------------------------------------------------------------------

TEST_F(ExecutionStates, InstallsRunTheItemsOfTheInstallTypeOnly)
{
    worker.ParseArguments({L"/install", L"/viewer"});
    const std::wstring command = Quoted(recorder) + L" [APP] [LOG] [INSTALLDIR32] [INSTALLDIR64] [TEMPDIR]";
    const std::wstring both = worker.paths[ziz::evSetup] + L"\\both.msi";
    statetest::WriteTextFile(both, "package");
    InstallSequence items{WithLocalPath(Item(L"both.msi", L"yes", L"yes", command), both),
                          Item(L"services-only.msi", L"no", L"yes", Quoted(recorder) + L" services"),
                          Item(L"no-command.msi", L"yes", L"yes", L""),
                          Item(L"no-property.msi", L"", L"yes", Quoted(recorder) + L" none"),
                          Item(L"upper.msi", L"YES", L"no", Quoted(recorder) + L" upper")};
    worker.SetItems(items);
    const std::wstring appliance = worker.paths[ziz::evSetup] + L"\\appliance.exe";
    statetest::WriteTextFile(appliance, "old");

    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFinishingInstall::Instance());

    const std::wstring expanded = Quoted(recorder) + L" " + Quoted(both) + L" " +
                                  Quoted(temp + L"\\both.msi.log") + L" " + Quoted(worker.paths[ziz::evInstall32]) +
                                  L" " + Quoted(worker.paths[ziz::evInstall64]) + L" " + Quoted(temp);
    EXPECT_EQ(RecordedLines(recorder), (std::vector<std::string>{Narrow(expanded.substr(recorder.size() + 3)),
                                                                "upper"}));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Detected 64-bit operating system"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Executing " + Narrow(expanded)));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "services-only.msi ignored for install type viewer"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "no-property.msi ignored for install type viewer"));
    EXPECT_EQ(log.IndexOf("no-command.msi ignored for install type viewer"), -1);
    int completions = 0;
    for (const auto& line : log.Lines()) completions += line.text == "Execution complete" ? 1 : 0;
    EXPECT_EQ(completions, 2);
    EXPECT_FALSE(Exists(appliance));

    ASSERT_EQ(worker.notifications.size(), 5u);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(worker.notifications[k].status, ziz::StatusInstalling);
        EXPECT_EQ(worker.notifications[k].a, k);
        EXPECT_EQ(worker.notifications[k].b, 5);
    }
    InstallSequence after;
    worker.GetItems(after);
    EXPECT_EQ(after.size(), 5u);
}

TEST_F(ExecutionStates, InstallsOfTheServicesTypeIncludeServicesOnlyItems)
{
    worker.ParseArguments({L"/install"});
    worker.SetItems({Item(L"services-only.msi", L"no", L"yes", Quoted(recorder) + L" services"),
                     Item(L"viewer-only.msi", L"yes", L"no", Quoted(recorder) + L" viewer")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFinishingInstall::Instance());
    EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>{"services"});
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "viewer-only.msi ignored for install type services"));
}

TEST_F(ExecutionStates, InstallsOnA32BitSystemLeaveThe64BitPlaceholder)
{
    worker.ParseArguments({L"/install"});
    worker.is64BitOs = false;
    worker.paths.erase(ziz::evInstall64);
    worker.SetItems({Item(L"a.msi", L"yes", L"yes", Quoted(recorder) + L" [INSTALLDIR64] [INSTALLDIR32]")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFinishingInstall::Instance());
    EXPECT_EQ(RecordedLines(recorder),
              std::vector<std::string>{"[INSTALLDIR64] " + Narrow(Quoted(worker.paths[ziz::evInstall32]))});
    EXPECT_EQ(log.IndexOf("Detected 64-bit operating system"), -1);
}

TEST_F(ExecutionStates, InstallsFailWhenADirectoryIsUnknown)
{
    worker.ParseArguments({L"/install"});
    worker.SetItems({Item(L"a.msi", L"yes", L"yes", Quoted(recorder) + L" a")});
    for (ziz::PathKind kind : {ziz::evTempDir, ziz::evInstall32, ziz::evSetup}) {
        statetest::RecordingWorker partial;
        partial.paths = worker.paths;
        partial.paths.erase(kind);
        partial.SetItems({Item(L"a.msi", L"yes", L"yes", Quoted(recorder) + L" a")});
        log.Clear();
        EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(partial), ziz::StateFailed::Instance());
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to discover directory paths"));
    }
    worker.paths.erase(ziz::evInstall64);
    log.Clear();
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to discover 64-bit directory paths"));
    EXPECT_TRUE(RecordedLines(recorder).empty());
}

TEST_F(ExecutionStates, InstallCommandThatCannotStartHandsTheInstalledItemsToTheUninstalls)
{
    worker.ParseArguments({L"/install"});
    const std::wstring broken = worker.paths[ziz::evSetup] + L"\\broken.msi";
    statetest::WriteTextFile(broken, "package");
    worker.SetItems({Item(L"first.msi", L"yes", L"yes", Quoted(recorder) + L" first"),
                     WithLocalPath(Item(L"broken.msi", L"yes", L"yes",
                                        Quoted(scratch + L"\\missing\\none.exe") + L" [APP]"),
                                   broken),
                     Item(L"last.msi", L"yes", L"yes", Quoted(recorder) + L" last")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>{"first"});
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Execution failed"));
    InstallSequence handedOver;
    worker.GetItems(handedOver);
    ASSERT_EQ(handedOver.size(), 1u);
    EXPECT_EQ(handedOver.front().Filename, L"first.msi");
}

TEST_F(ExecutionStates, FailingInstallerNamesItsCommandAndLogAndHandsTheInstalledItemsToTheUninstalls)
{
    worker.ParseArguments({L"/install"});
    const std::wstring failing = scratch + L"\\tools\\failing.exe";
    PlaceStandIn(failing);
    statetest::SetStandInExitCode(failing, 1603);
    // What the installer wrote into the run's temporary folder outlives the run in the log folder.
    const std::wstring logFolder = scratch + L"\\data\\Norlo 5\\log";
    worker.paths[ziz::evLog] = logFolder;
    statetest::WriteTextFile(temp + L"\\broken.msi.log", "Action ended: InstallFinalize. Return value 3.");
    worker.SetItems({Item(L"first.msi", L"yes", L"yes", Quoted(recorder) + L" first"),
                     Item(L"broken.msi", L"yes", L"yes", Quoted(failing) + L" /log [LOG]"),
                     Item(L"last.msi", L"yes", L"yes", Quoted(recorder) + L" last")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());

    EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>{"first"});
    EXPECT_EQ(RecordedLines(failing), std::vector<std::string>{"/log " + Narrow(Quoted(temp + L"\\broken.msi.log"))});
    const ziz::ComponentRecord kept = RecordOf(worker, L"broken.msi");
    const std::wstring keptPrefix = logFolder + L"\\installers\\broken.msi.";
    ASSERT_EQ(kept.log.substr(0, keptPrefix.size()), keptPrefix) << Narrow(kept.log);
    EXPECT_TRUE(std::regex_match(Narrow(kept.log.substr(keptPrefix.size())), std::regex(R"(\d{8}-\d{6}\.log)")));
    EXPECT_EQ(testsupport::ReadTextFile(kept.log), "Action ended: InstallFinalize. Return value 3.");
    const std::string line = "Installing broken.msi failed: " + Narrow(Quoted(failing)) + " /log " +
                             Narrow(Quoted(temp + L"\\broken.msi.log")) + " returned exit code 1603; see the " +
                             "installer's log " + Narrow(kept.log);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, line));
    EXPECT_EQ(worker.Report().FailureReason(), line);
    EXPECT_FALSE(worker.IsRestartRequired());
    InstallSequence handedOver;
    worker.GetItems(handedOver);
    ASSERT_EQ(handedOver.size(), 1u);
    EXPECT_EQ(handedOver.front().Filename, L"first.msi");

    const ziz::ComponentRecord first = RecordOf(worker, L"first.msi");
    EXPECT_EQ(first.action, ziz::ComponentAction::Installed);
    EXPECT_TRUE(first.hasExitCode);
    EXPECT_EQ(first.exitCode, 0);
    const ziz::ComponentRecord broken = RecordOf(worker, L"broken.msi");
    EXPECT_EQ(broken.action, ziz::ComponentAction::Failed);
    EXPECT_TRUE(broken.hasExitCode);
    EXPECT_EQ(broken.exitCode, 1603);
    EXPECT_EQ(RecordOf(worker, L"last.msi").file, L"<none>");
}

TEST_F(ExecutionStates, FailingInstallerWithoutALogOfItsOwnPointsNowhere)
{
    worker.ParseArguments({L"/install"});
    statetest::SetStandInExitCode(recorder, 2);
    worker.SetItems({Item(L"redist.exe", L"yes", L"yes", Quoted(recorder) + L" /q")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    const std::string line = "Installing redist.exe failed: " + Narrow(Quoted(recorder)) + " /q returned exit code 2";
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, line));
    EXPECT_EQ(log.IndexOf("see the installer's log"), -1);
    EXPECT_EQ(log.IndexOf("Execution complete"), -1);
}

// Sets a file's last-write time the given number of days back.
void AgeFile(const std::wstring& path, int days)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time{};
    time.LowPart = now.dwLowDateTime;
    time.HighPart = now.dwHighDateTime;
    time.QuadPart -= static_cast<ULONGLONG>(days) * 24 * 3600 * 10000000ULL;
    const FILETIME then{time.LowPart, time.HighPart};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &then));
    CloseHandle(file);
}

TEST_F(ExecutionStates, KeptInstallerLogsArePurgedByTheSetupLogsAgeAndCountPerComponent)
{
    const std::wstring logFolder = scratch + L"\\log";
    const std::wstring kept = logFolder + L"\\installers\\";
    worker.paths[ziz::evLog] = logFolder;
    for (int day = 1; day <= 11; ++day)
        statetest::WriteTextFile(kept + L"comp.msi.202001" + (day < 10 ? L"0" : L"") + std::to_wstring(day) + L"-000000.log", "old");
    statetest::WriteTextFile(kept + L"comp.msi.20260101-000000.log", "aged");
    AgeFile(kept + L"comp.msi.20260101-000000.log", 40);
    statetest::WriteTextFile(kept + L"other.msi.20190101-000000.log", "another component's");
    statetest::WriteTextFile(temp + L"\\comp.msi.log", "new");

    const std::wstring newest = ziz::KeepInstallerLog(worker, L"comp.msi", temp + L"\\comp.msi.log");
    ASSERT_FALSE(newest.empty());
    EXPECT_EQ(testsupport::ReadTextFile(newest), "new");
    // Ten newest by the time in the name, the one older than a month among them purged.
    EXPECT_FALSE(Exists(kept + L"comp.msi.20260101-000000.log"));
    for (int day = 4; day <= 11; ++day)
        EXPECT_TRUE(Exists(kept + L"comp.msi.202001" + (day < 10 ? L"0" : L"") + std::to_wstring(day) + L"-000000.log")) << day;
    for (int day = 1; day <= 3; ++day) EXPECT_FALSE(Exists(kept + L"comp.msi.2020010" + std::to_wstring(day) + L"-000000.log")) << day;
    EXPECT_TRUE(Exists(kept + L"other.msi.20190101-000000.log"));

    // An installer that wrote no log leaves nothing to keep.
    EXPECT_EQ(ziz::KeepInstallerLog(worker, L"quiet.msi", temp + L"\\quiet.msi.log"), L"");
}

TEST_F(ExecutionStates, InstallCommandThatCannotStartIsRecordedAsFailedWithItsReason)
{
    worker.ParseArguments({L"/install"});
    const std::wstring missing = Quoted(scratch + L"\\missing\\none.exe");
    worker.SetItems({Item(L"broken.msi", L"yes", L"yes", missing)});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    const std::string reason = worker.Report().FailureReason();
    EXPECT_EQ(reason.rfind("Installing broken.msi failed: CreateProcess(\"" + Narrow(missing) + "\")", 0), 0u) << reason;
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, reason));
    EXPECT_EQ(RecordOf(worker, L"broken.msi").action, ziz::ComponentAction::Failed);
    EXPECT_FALSE(RecordOf(worker, L"broken.msi").hasExitCode);
}

TEST_F(ExecutionStates, InstallerAskingForARestartSucceedsAndSetsTheFlag)
{
    for (unsigned long code : {3010ul, 1641ul}) {
        statetest::RecordingWorker run;
        run.paths = worker.paths;
        run.ParseArguments({L"/install"});
        statetest::SetStandInExitCode(recorder, static_cast<int>(code));
        run.SetItems({Item(L"needs-restart.msi", L"yes", L"yes", Quoted(recorder) + L" restart")});
        log.Clear();
        EXPECT_FALSE(run.IsRestartRequired());
        EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(run), ziz::StateFinishingInstall::Instance()) << code;
        EXPECT_TRUE(run.IsRestartRequired()) << code;
        EXPECT_FALSE(run.IsRestartAgreed()) << code;
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Installing needs-restart.msi needs a restart to complete "
                                                            "(exit code " + std::to_string(code) + ")"));
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Execution complete"));
        EXPECT_EQ(RecordOf(run, L"needs-restart.msi").action, ziz::ComponentAction::Installed);
        EXPECT_EQ(RecordOf(run, L"needs-restart.msi").exitCode, static_cast<long>(code));
    }
}

TEST_F(ExecutionStates, BusyInstallerIsRetriedUntilTheWaitsAreUsedUpThenFails)
{
    RecordedWaits waits;
    worker.ParseArguments({L"/install"});
    statetest::SetStandInExitCode(recorder, 1618);
    worker.SetItems({Item(L"busy.msi", L"yes", L"yes", Quoted(recorder) + L" busy")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    EXPECT_EQ(g_waits, (std::vector<unsigned long>{5000, 10000, 20000, 40000, 80000, 145000}));
    EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>(7, "busy"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING,
                             "Another installation is running (exit code 1618), trying again in 5 seconds"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING,
                             "Another installation is running (exit code 1618), trying again in 145 seconds"));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Installing busy.msi failed: " + Narrow(Quoted(recorder)) +
                                                      " busy returned exit code 1618"));
    EXPECT_EQ(RecordOf(worker, L"busy.msi").action, ziz::ComponentAction::Failed);
    EXPECT_EQ(RecordOf(worker, L"busy.msi").exitCode, 1618);
}

TEST_F(ExecutionStates, BusyInstallerThatGetsItsTurnCountsAsInstalled)
{
    RecordedWaits waits(recorder, 2);
    worker.ParseArguments({L"/install"});
    statetest::SetStandInExitCode(recorder, 1618);
    worker.SetItems({Item(L"busy.msi", L"yes", L"yes", Quoted(recorder) + L" busy")});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFinishingInstall::Instance());
    EXPECT_EQ(g_waits, (std::vector<unsigned long>{5000, 10000}));
    EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>(3, "busy"));
    EXPECT_EQ(RecordOf(worker, L"busy.msi").action, ziz::ComponentAction::Installed);
    EXPECT_EQ(RecordOf(worker, L"busy.msi").exitCode, 0);
}

// --- Held components --------------------------------------------------------------------

// The setup-files folder is writable by others: the component a command runs is held,
// denying writers and deleters, from its check until the command has ended.
class HeldComponents : public ExecutionStates {
protected:
    void SetUp() override
    {
        ExecutionStates::SetUp();
        worker.ParseArguments({L"/install"});
        component = worker.paths[ziz::evSetup] + L"\\base.msi";
        statetest::WriteTextFile(component, "abc");
        tamperer = testenv::BuildDirectory() + L"\\tests\\ComponentTamperHelper.exe";
        report = scratch + L"\\tamper";
        installed = scratch + L"\\installed.msi";
    }

    // The item as downloaded and checked: "abc".
    InstallItem Checked(const std::wstring& command) const
    {
        InstallItem item = WithLocalPath(Item(L"base.msi", L"yes", L"yes", command), component);
        item.Size = L"3";
        item.Hash = L"900150983cd24fb0d6963f7d28e17f72";
        item.Sha256 = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
        return item;
    }

    std::wstring TamperCommand(const std::wstring& file) const
    {
        return Quoted(tamperer) + L" " + file + L" " + Quoted(report + L".log") + L" " + Quoted(installed);
    }

    std::wstring component, tamperer, report, installed;
};

TEST_F(HeldComponents, NobodyCanChangeTheComponentWhileItsCommandRuns)
{
    worker.SetItems({Checked(TamperCommand(L"[APP]"))});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFinishingInstall::Instance());

    const std::vector<std::string> attempts = RecordedLines(report);
    ASSERT_EQ(attempts.size(), 5u) << "the helper did not run to its end";
    EXPECT_EQ(attempts[0], "overwrite 32");
    EXPECT_EQ(attempts[1], "rename 32");
    EXPECT_EQ(attempts[2], "delete 32");
    EXPECT_EQ(attempts[3].rfind("replace ", 0), 0u);
    EXPECT_NE(attempts[3], "replace succeeded");
    EXPECT_EQ(attempts[4], "copy succeeded") << "the installer itself can still read it";
    EXPECT_EQ(testsupport::ReadTextFile(installed), "abc");
    EXPECT_EQ(RecordOf(worker, L"base.msi").action, ziz::ComponentAction::Installed);
    // Let go once the command has ended.
    EXPECT_TRUE(DeleteFileW(component.c_str())) << GetLastError();
}

TEST_F(HeldComponents, ACommandThatDoesNotNameTheFileHoldsNothing)
{
    // The same helper, given the path as plain text: its attempts reach the file, so the
    // refusals above come from the hold.
    worker.SetItems({WithLocalPath(Item(L"base.msi", L"yes", L"yes", TamperCommand(Quoted(component))), component)});
    EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StateFinishingInstall::Instance());
    const std::vector<std::string> attempts = RecordedLines(report);
    ASSERT_GE(attempts.size(), 2u);
    EXPECT_EQ(attempts[0], "overwrite succeeded");
    EXPECT_EQ(attempts[1], "rename succeeded");
}

TEST_F(HeldComponents, AComponentChangedSinceItsCheckIsNotRunAndTheRunRollsBack)
{
    struct Change {
        const char* name;
        void (*apply)(const std::wstring& file);
        const char* line;
        const char* check;
    };
    const Change changes[] = {
        {"same size, other bytes", [](const std::wstring& f) { statetest::WriteTextFile(f, "abd"); },
         "Hash comparison failure on file ", "md5"},
        {"cut short", [](const std::wstring& f) { statetest::WriteTextFile(f, "ab"); },
         "Size comparison failure on file ", "size"},
        {"removed", [](const std::wstring& f) { DeleteFileW(f.c_str()); }, "Unable to open file ", "open"},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        statetest::WriteTextFile(component, "abc");
        statetest::RecordingWorker run;
        run.paths = worker.paths;
        run.ParseArguments({L"/install"});
        run.SetItems({Item(L"first.msi", L"yes", L"yes", Quoted(recorder) + L" first"),
                      Checked(Quoted(recorder) + L" [APP]")});
        PlaceStandIn(recorder);
        change.apply(component);
        log.Clear();

        EXPECT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(run), ziz::StatePerformingUninstalls::Instance());
        EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>{"first"});
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, change.line + Narrow(component)));
        const std::string reason = "Installing base.msi failed: its file no longer passes its check";
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, reason));
        EXPECT_EQ(run.Report().FailureReason(), reason);
        EXPECT_EQ(RecordOf(run, L"base.msi").action, ziz::ComponentAction::Failed);
        EXPECT_EQ(RecordOf(run, L"base.msi").failedCheck, change.check);
        InstallSequence handedOver;
        run.GetItems(handedOver);
        ASSERT_EQ(handedOver.size(), 1u);
        EXPECT_EQ(handedOver.front().Filename, L"first.msi");
    }
}

TEST_F(HeldComponents, AComponentSomeoneKeepsOpenForWritingIsNotRun)
{
    // A writer who opened the file before the check could change it after: not held, not run.
    HANDLE writer = CreateFileW(component.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    worker.SetItems({Checked(Quoted(recorder) + L" [APP]")});
    const ziz::WorkerState* next = ziz::StatePerformingInstalls::Instance()->Exec(worker);
    CloseHandle(writer);
    EXPECT_EQ(next, ziz::StatePerformingUninstalls::Instance());
    EXPECT_TRUE(RecordedLines(recorder).empty());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to open file " + Narrow(component)));
}

// --- Uninstalls -------------------------------------------------------------------------

class Uninstalls : public ExecutionStates {
protected:
    void SetUp() override
    {
        ExecutionStates::SetUp();
        // Whatever an earlier run registered is put aside, so only this test's commands run.
        for (int i = 0; i < 6; ++i) {
            saved.push_back(std::make_unique<testsupport::SavedStoreValue>(L"uninstall", std::to_wstring(i)));
            Remove(std::to_wstring(i));
        }
    }
    void TearDown() override
    {
        for (int i = 0; i < 6; ++i) Remove(std::to_wstring(i));
        saved.clear();
        ExecutionStates::TearDown();
    }
    static void Remove(const std::wstring& name)
    {
        testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"uninstall", name);
        testsupport::DeleteStoreValue(HKEY_CURRENT_USER, L"uninstall", name);
    }
    static bool Registered(const std::wstring& name)
    {
        std::wstring value;
        return testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"uninstall", name, value);
    }
    void Register(const std::wstring& name, const std::wstring& command)
    {
        osh::SetPersistentValue(L"uninstall", name, command);
    }
    // A stand-in that ends with 1603, as a failing installer does.
    std::wstring PlaceFailing()
    {
        const std::wstring failing = scratch + L"\\tools\\failing.exe";
        PlaceStandIn(failing);
        statetest::SetStandInExitCode(failing, 1603);
        return failing;
    }

    std::vector<std::unique_ptr<testsupport::SavedStoreValue>> saved;
};

TEST_F(Uninstalls, RunLastRegisteredFirstAndRemoveTheirEntries)
{
    Register(L"0", Quoted(recorder) + L" zero");
    Register(L"1", Quoted(recorder) + L" one");
    Register(L"2", Quoted(recorder) + L" two");
    worker.ParseArguments({L"/uninstall"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());
    EXPECT_EQ(RecordedLines(recorder), (std::vector<std::string>{"two", "one", "zero"}));
    for (const wchar_t* name : {L"0", L"1", L"2"}) EXPECT_FALSE(Registered(name)) << Narrow(name);
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Executing " + Narrow(Quoted(recorder)) + " two"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Execution succeeded"));
    ASSERT_EQ(worker.notifications.size(), 3u);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(worker.notifications[k].status, ziz::StatusUninstalling);
        EXPECT_EQ(worker.notifications[k].a, k);
        EXPECT_EQ(worker.notifications[k].b, 3);
    }
}

TEST_F(Uninstalls, PurgeOptionLeadsToPurging)
{
    Register(L"0", Quoted(recorder) + L" zero");
    worker.ParseArguments({L"/uninstall", L"/purge"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StatePurgingFiles::Instance());
    EXPECT_EQ(RecordedLines(recorder), std::vector<std::string>{"zero"});
}

TEST_F(Uninstalls, NothingRegisteredFinishesAtOnce)
{
    worker.ParseArguments({L"/uninstall"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());
    EXPECT_TRUE(worker.notifications.empty());
}

TEST_F(Uninstalls, ACommandThatCannotStartFailsTheRunAfterTheOthersRan)
{
    Register(L"0", Quoted(recorder) + L" zero");
    Register(L"1", Quoted(scratch + L"\\missing\\uninstall.exe"));
    Register(L"2", Quoted(recorder) + L" two");
    worker.ParseArguments({L"/uninstall", L"/purge"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_EQ(RecordedLines(recorder), (std::vector<std::string>{"two", "zero"}));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Execution failed"));
    EXPECT_FALSE(Registered(L"0"));
    EXPECT_TRUE(Registered(L"1"));
    EXPECT_FALSE(Registered(L"2"));
    ASSERT_EQ(worker.notifications.size(), 4u);
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusFailed);
}

TEST_F(Uninstalls, UnknownTemporaryDirectoryFails)
{
    Register(L"0", Quoted(recorder) + L" zero");
    worker.paths.erase(ziz::evTempDir);
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to discover directory paths"));
    EXPECT_TRUE(RecordedLines(recorder).empty());
    EXPECT_TRUE(Registered(L"0"));
}

TEST_F(Uninstalls, FailingCommandKeepsItsEntryAndFailsTheRunAfterTheOthersRan)
{
    const std::wstring failing = scratch + L"\\tools\\failing.exe";
    PlaceStandIn(failing);
    statetest::SetStandInExitCode(failing, 1603);
    Register(L"0", Quoted(recorder) + L" zero");
    Register(L"1", Quoted(failing) + L" one");
    Register(L"2", Quoted(recorder) + L" two");
    worker.ParseArguments({L"/uninstall", L"/purge"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_EQ(RecordedLines(recorder), (std::vector<std::string>{"two", "zero"}));
    EXPECT_EQ(RecordedLines(failing), std::vector<std::string>{"one"});
    EXPECT_FALSE(Registered(L"0"));
    EXPECT_TRUE(Registered(L"1"));
    EXPECT_FALSE(Registered(L"2"));
    const std::string line =
        "Uninstalling with " + Narrow(Quoted(failing)) + " one failed: exit code 1603; its entry 1 is kept";
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, line));
    EXPECT_EQ(worker.Report().FailureReason(), line);
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusFailed);
    EXPECT_EQ(RecordOf(worker, Quoted(failing) + L" one").action, ziz::ComponentAction::Failed);
    EXPECT_EQ(RecordOf(worker, Quoted(failing) + L" one").exitCode, 1603);
    EXPECT_EQ(RecordOf(worker, Quoted(recorder) + L" two").action, ziz::ComponentAction::Uninstalled);
    EXPECT_EQ(RecordOf(worker, Quoted(recorder) + L" two").exitCode, 0);
}

TEST_F(Uninstalls, RestartRequestOfAnUninstallerRemovesTheEntryAndSetsTheFlag)
{
    for (unsigned long code : {3010ul, 1641ul}) {
        statetest::RecordingWorker run;
        run.paths = worker.paths;
        run.ParseArguments({L"/uninstall"});
        run.SetRestartRequired(false);  // the switch sets it; here only the uninstaller may
        statetest::SetStandInExitCode(recorder, static_cast<int>(code));
        Register(L"0", Quoted(recorder) + L" zero");
        EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(run), ziz::StateFinishingUninstall::Instance())
            << code;
        EXPECT_FALSE(Registered(L"0")) << code;
        EXPECT_TRUE(run.IsRestartRequired()) << code;
        EXPECT_EQ(RecordOf(run, Quoted(recorder) + L" zero").action, ziz::ComponentAction::Uninstalled);
    }
}

TEST_F(Uninstalls, NumberedEntriesRunByNumberNotByText)
{
    for (int i = 0; i <= 10; ++i) Register(std::to_wstring(i), Quoted(recorder) + L" " + std::to_wstring(i));
    worker.ParseArguments({L"/uninstall"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());
    EXPECT_EQ(RecordedLines(recorder),
              (std::vector<std::string>{"10", "9", "8", "7", "6", "5", "4", "3", "2", "1", "0"}));
    for (int i = 6; i <= 10; ++i) Remove(std::to_wstring(i));
}

// An install command that registers its uninstall entry, as a real package does.
std::wstring RegisteringCommand(const std::wstring& name, const std::wstring& uninstall)
{
    std::wstring escaped;
    for (wchar_t c : uninstall) escaped += c == L'"' ? std::wstring(L"\\\"") : std::wstring(1, c);
    return L"reg add \"HKLM\\SOFTWARE\\Norlo\\Norlo 5\\uninstall\" /v " + name + L" /d \"" + escaped +
           L"\" /f /reg:64";
}

TEST_F(Uninstalls, FailedInstallRemovesOnlyWhatItInstalledLastFirst)
{
    const std::wstring failing = PlaceFailing();
    Register(L"0", Quoted(recorder) + L" earlier");
    worker.ParseArguments({L"/install"});
    worker.SetItems({Item(L"first.msi", L"yes", L"yes", RegisteringCommand(L"1", Quoted(recorder) + L" first")),
                     Item(L"second.msi", L"yes", L"yes", RegisteringCommand(L"2", Quoted(recorder) + L" second")),
                     Item(L"broken.msi", L"yes", L"yes", Quoted(failing) + L" broken")});
    ASSERT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    ASSERT_TRUE(Registered(L"2"));
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFailed::Instance());

    EXPECT_EQ(RecordedLines(recorder), (std::vector<std::string>{"second", "first"}));
    EXPECT_TRUE(Registered(L"0"));
    EXPECT_FALSE(Registered(L"1"));
    EXPECT_FALSE(Registered(L"2"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             "Rolling back what this run installed: entry 2 (" + Narrow(Quoted(recorder)) +
                                 " second), entry 1 (" + Narrow(Quoted(recorder)) + " first)"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Roll-back complete"));
    EXPECT_EQ(worker.Report().FailureReason().rfind("Installing broken.msi failed: ", 0), 0u);
}

TEST_F(Uninstalls, FailedUpdateUninstallsNothingAndKeepsEveryEntry)
{
    const std::wstring failing = PlaceFailing();
    Register(L"0", Quoted(recorder) + L" earlier");
    worker.ParseArguments({L"/update"});
    worker.SetItems({Item(L"first.msi", L"yes", L"yes", RegisteringCommand(L"1", Quoted(recorder) + L" first")),
                     Item(L"broken.msi", L"yes", L"yes", Quoted(failing) + L" broken"),
                     Item(L"last.msi", L"yes", L"yes", Quoted(recorder) + L" last")});
    ASSERT_EQ(ziz::StatePerformingInstalls::Instance()->Exec(worker), ziz::StatePerformingUninstalls::Instance());
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFailed::Instance());

    EXPECT_TRUE(RecordedLines(recorder).empty());
    EXPECT_TRUE(Registered(L"0"));
    EXPECT_TRUE(Registered(L"1"));
    for (const auto& notification : worker.notifications) EXPECT_NE(notification.status, ziz::StatusUninstalling);
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Rolling back nothing: an update keeps the components it "
                                                        "updated and the entries of earlier runs"));
    EXPECT_EQ(log.IndexOf("Roll-back complete"), -1);
    const std::string reason = worker.Report().FailureReason();
    EXPECT_EQ(reason.rfind("Installing broken.msi failed: " + Narrow(Quoted(failing)) + " broken returned exit code 1603", 0),
              0u)
        << reason;
}

TEST_F(Uninstalls, EntryTheUninstallerRemovedItselfIsNoWarning)
{
    // The command deletes its own entry from the key store, as a real package's uninstall does.
    const std::wstring command = L"reg delete \"HKLM\\SOFTWARE\\Norlo\\Norlo 5\\uninstall\" /v 0 /f /reg:64";
    Register(L"0", command);
    worker.ParseArguments({L"/uninstall"});
    EXPECT_EQ(ziz::StatePerformingUninstalls::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());
    EXPECT_FALSE(Registered(L"0"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Execution succeeded"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Uninstall entry 0 was already removed"));
    for (const auto& line : log.Lines()) EXPECT_NE(line.priority, Message::PRIO_WARNING) << line.text;
}

// --- Purging and DeleteDirectory -------------------------------------------------------

TEST_F(ExecutionStates, PurgingRemovesTheDataFolderButKeepsWhatHoldsNodelete)
{
    const std::wstring product = scratch + L"\\data\\Norlo 5";
    statetest::WriteTextFile(product + L"\\SetupFiles\\Setup.exe", "x");
    statetest::WriteTextFile(product + L"\\log\\.nodelete", "hook output");
    statetest::WriteTextFile(product + L"\\log\\setup.log", "log");
    statetest::WriteTextFile(product + L"\\cache\\deep\\readonly.dat", "r");
    SetFileAttributesW((product + L"\\cache\\deep\\readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_EQ(ziz::StatePurgingFiles::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());

    EXPECT_FALSE(Exists(product + L"\\SetupFiles"));
    EXPECT_FALSE(Exists(product + L"\\cache"));
    EXPECT_TRUE(Exists(product + L"\\log\\setup.log"));
    EXPECT_TRUE(Exists(product + L"\\log\\.nodelete"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Directory \"" + Narrow(product) + "\\log\" could not be deleted."));
}

TEST_F(ExecutionStates, PurgingWithoutSetupDirectoryDeletesNothing)
{
    worker.paths.erase(ziz::evSetup);
    statetest::WriteTextFile(scratch + L"\\data\\Norlo 5\\SetupFiles\\Setup.exe", "x");
    EXPECT_EQ(ziz::StatePurgingFiles::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());
    EXPECT_TRUE(Exists(scratch + L"\\data\\Norlo 5\\SetupFiles\\Setup.exe"));
}

TEST_F(ExecutionStates, DeleteDirectoryKeepsANodeleteFolderAndEveryParent)
{
    const std::wstring root = scratch + L"\\tree";
    statetest::WriteTextFile(root + L"\\a\\b\\c\\.nodelete", "");
    statetest::WriteTextFile(root + L"\\a\\b\\gone.txt", "g");
    statetest::WriteTextFile(root + L"\\a\\sibling\\gone.txt", "g");
    EXPECT_FALSE(ziz::DeleteDirectory(root, false));
    EXPECT_TRUE(Exists(root + L"\\a\\b\\c\\.nodelete"));
    EXPECT_FALSE(Exists(root + L"\\a\\b\\gone.txt"));
    EXPECT_FALSE(Exists(root + L"\\a\\sibling"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Directory \"" + Narrow(root) + "\\a\\b\\c\" could not be deleted."));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Directory \"" + Narrow(root) + "\\a\\b\" could not be deleted."));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Directory \"" + Narrow(root) + "\\a\" could not be deleted."));

    // A marker in the folder itself keeps everything in it.
    statetest::WriteTextFile(root + L"\\a\\b\\c\\kept.txt", "k");
    EXPECT_FALSE(ziz::DeleteDirectory(root + L"\\a\\b\\c", true));
    EXPECT_TRUE(Exists(root + L"\\a\\b\\c\\kept.txt"));

    statetest::WriteTextFile(scratch + L"\\plain\\x\\y.txt", "y");
    EXPECT_TRUE(ziz::DeleteDirectory(scratch + L"\\plain\\.\\x\\..", true));
    EXPECT_FALSE(Exists(scratch + L"\\plain"));
}

TEST_F(ExecutionStates, DeleteDirectoryOfSomethingElseFailsOrThrows)
{
    const std::wstring file = scratch + L"\\file.txt";
    statetest::WriteTextFile(file, "f");
    const std::string text = "DeleteDirectory: '" + Narrow(file) + "' is not a directory";
    EXPECT_FALSE(ziz::DeleteDirectory(file, false));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, text));
    try {
        ziz::DeleteDirectory(scratch + L"\\missing", true);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "DeleteDirectory: '" + Narrow(scratch) + "\\missing' is not a directory");
    }
}

// A standard user can plant a link in the data folder; the elevated purge must not reach
// what it points to. Where the system cannot remove a link as such (Wine), it stays.
TEST_F(ExecutionStates, DeleteDirectoryNeverFollowsALinkInTheTree)
{
    const testsupport::CanaryFolder outside(L"exec-link-target");
    const std::wstring root = scratch + L"\\linked";
    statetest::WriteTextFile(root + L"\\a\\plain.txt", "p");
    statetest::WriteTextFile(root + L"\\z\\later.txt", "l");
    const testsupport::FolderLink link(root + L"\\a\\to-outside", outside.folder);

    const bool removed = ziz::DeleteDirectory(root, false);

    EXPECT_TRUE(outside.Intact());
    EXPECT_FALSE(Exists(root + L"\\a\\plain.txt"));
    EXPECT_FALSE(Exists(root + L"\\z")) << "the walk goes on past the link";
    if (testsupport::SystemRemovesLinks()) {
        EXPECT_TRUE(removed);
        EXPECT_FALSE(Exists(root));
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                                 "Link \"" + Narrow(link.path) + "\" removed without following it."));
    } else {
        EXPECT_FALSE(removed);
        EXPECT_TRUE(link.Present());
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "RemoveLink: '" + Narrow(link.path) +
                                                          "' could not be opened as a link; left in place"));
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Directory \"" + Narrow(root) + "\\a\" could not be deleted."));
    }
}

TEST_F(ExecutionStates, DeleteDirectoryOfALinkTakesAtMostTheLink)
{
    const testsupport::CanaryFolder outside(L"exec-link-target");
    const testsupport::FolderLink link(scratch + L"\\data-link", outside.folder);

    const bool removed = ziz::DeleteDirectory(link.path + L"\\.", false);

    EXPECT_TRUE(outside.Intact());
    EXPECT_EQ(testsupport::SystemRemovesLinks(), removed);
    EXPECT_NE(testsupport::SystemRemovesLinks(), link.Present());
    if (link.Present()) {
        EXPECT_THROW(ziz::DeleteDirectory(link.path, true), std::runtime_error);
    }
    EXPECT_TRUE(outside.Intact());
}

TEST_F(ExecutionStates, PurgingLeavesWhatALinkInTheDataFolderPointsTo)
{
    const testsupport::CanaryFolder outside(L"exec-link-target");
    const std::wstring product = scratch + L"\\data\\Norlo 5";
    statetest::WriteTextFile(product + L"\\SetupFiles\\Setup.exe", "x");
    const testsupport::FolderLink link(product + L"\\SetupFiles\\planted", outside.folder);

    EXPECT_EQ(ziz::StatePurgingFiles::Instance()->Exec(worker), ziz::StateFinishingUninstall::Instance());

    EXPECT_TRUE(outside.Intact());
    EXPECT_FALSE(Exists(product + L"\\SetupFiles\\Setup.exe"));
    EXPECT_NE(testsupport::SystemRemovesLinks(), link.Present());
}

TEST_F(ExecutionStates, DeleteDirectoryGoesOnPastAFileInUseUnlessAskedToRethrow)
{
    const std::wstring root = scratch + L"\\busy";
    const std::wstring busy = root + L"\\a-busy.txt";
    statetest::WriteTextFile(busy, "b");
    statetest::WriteTextFile(root + L"\\z-free.txt", "f");
    HANDLE held = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    EXPECT_FALSE(ziz::DeleteDirectory(root, false));
    EXPECT_TRUE(Exists(busy));
    EXPECT_FALSE(Exists(root + L"\\z-free.txt"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "File \"" + Narrow(busy) + "\" could not be deleted."));
    bool loggedDeleteFile = false;
    for (const auto& line : log.Lines())
        loggedDeleteFile |= line.priority == Message::PRIO_ERROR && line.text.rfind("DeleteFile", 0) == 0;
    EXPECT_TRUE(loggedDeleteFile);

    EXPECT_THROW(ziz::DeleteDirectory(root, true), win::exception);
    CloseHandle(held);
    EXPECT_TRUE(ziz::DeleteDirectory(root, true));
    EXPECT_FALSE(Exists(root));
}

}  // namespace
