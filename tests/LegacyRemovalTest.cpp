// Removal of the product's older generations, against the real registry, files, the old
// uninstallers (stand-ins) and real message boxes answered from a watcher thread: the
// questions, the RESET files, the uninstaller's switches, the run-once hand-over and the
// restart flag.
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingSoftwareStops.h"
#include "engine/states/StateRemovingBetaInstall.h"
#include "engine/states/StateRemovingInnoInstall.h"
#include "engine/RestartCopy.h"
#include "osh/OwnImage.h"
#include "support/LegacyFixtures.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/MessageBoxWatcher.h"
#include "support/StateTestFiles.h"
#include "support/TestEnvironment.h"
#include "support/VendorConfigFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using statetest::Exists;
using statetest::PlaceStandIn;
using statetest::Quoted;
using statetest::RecordedLines;
using testenv::Narrow;

using legacytest::DeleteValue;
using legacytest::kBetaKey;
using legacytest::kInnoKey;
using legacytest::kRunOnce;
using legacytest::kRunOnceValue;
using legacytest::ReadString;
using legacytest::RemovalQuestion;
using legacytest::RestartCopy;
using legacytest::RunOnceCommand;
using legacytest::WriteString;

using legacytest::kRestartQuestion;

class LegacyRemoval : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteValue(0, kRunOnce, kRunOnceValue);
        scratch = testenv::MakeScratchDirectory(L"legacy");
        programs = scratch + L"\\Program Files";
        setupDir = scratch + L"\\data\\Norlo 5\\SetupFiles";
        worker.paths[ziz::evInstall32] = programs + L"\\Norlo 5";
        worker.paths[ziz::evInstall] = programs + L"\\Norlo 5";
        worker.paths[ziz::evInitial] = scratch + L"\\run";
        worker.paths[ziz::evSetup] = setupDir;
        worker.paths[ziz::evTempDir] = scratch + L"\\temp";
        statetest::MakeFolders(scratch + L"\\temp");
        worker.fileNames[ziz::evInitial] = L"norlo5-Setup.exe";
        worker.fileNames[ziz::evSetup] = L"Setup.exe";
        PlaceStandIn(scratch + L"\\run\\norlo5-Setup.exe");
    }
    void TearDown() override
    {
        DeleteValue(0, kRunOnce, kRunOnceValue);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInnoKey, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kBetaKey, KEY_WOW64_64KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5.0", KEY_WOW64_64KEY, 0);
        testenv::RemoveTree(scratch);
    }

    std::wstring scratch, programs, setupDir;
    statetest::RecordingWorker worker;
    testsupport::LogCapture log;
};

// Only a program directly in a "Norlo-Restart-<GUID>" folder of the system's temporary
// folder is the copy a logon started; its run removes that folder and nothing else.
TEST(RestartCopy, FolderOfTheCopyALogonStarted)
{
    const std::wstring temp = L"C:\\Windows\\Temp";
    struct Case {
        std::wstring program;
        std::wstring folder;
    };
    for (const Case& c : {Case{temp + L"\\Norlo-Restart-{1F2E}\\Setup.exe", temp + L"\\Norlo-Restart-{1F2E}"},
                          Case{L"c:\\windows\\temp\\norlo-restart-x\\Setup.exe", L"C:\\Windows\\Temp\\norlo-restart-x"},
                          Case{temp + L"\\Norlo-Restart-\\Setup.exe", L""},
                          Case{temp + L"\\Norlo-{1F2E}\\Setup.exe", L""},
                          Case{temp + L"\\Norlo-Restart-{1F2E}\\sub\\Setup.exe", L""},
                          Case{temp + L"\\Norlo-Restart-{1F2E}\\", L""},
                          Case{temp + L"\\Norlo-Restart-{1F2E}", L""},
                          Case{temp + L"2\\Norlo-Restart-{1F2E}\\Setup.exe", L""},
                          Case{L"C:\\Users\\u\\Norlo-Restart-{1F2E}\\Setup.exe", L""}}) {
        EXPECT_EQ(c.folder, ziz::RestartFolderOf(c.program, temp)) << Narrow(c.program);
    }
    EXPECT_EQ(L"", ziz::RestartFolderOf(temp + L"\\Norlo-Restart-{1F2E}\\Setup.exe", L""));
}

// --- The previous generation -------------------------------------------------------------

class InnoRemoval : public LegacyRemoval {
protected:
    void SetUp() override
    {
        LegacyRemoval::SetUp();
        oldDir = programs + L"\\Norlo Tessel";
        bin = oldDir + L"\\bin";
        uninstaller = oldDir + L"\\unins000.exe";
        PlaceStandIn(uninstaller);
        for (const wchar_t* name : {L"myreset.dat", L"Re-set.txt", L"RESET.ini", L"engine.dll"})
            statetest::WriteTextFile(bin + L"\\" + name, "x");
        statetest::MakeFolders(bin + L"\\reset-folder");
        // Read-only: the deletion fails and the file is set aside instead.
        SetFileAttributesW((bin + L"\\RESET.ini").c_str(), FILE_ATTRIBUTE_READONLY);
        WriteString(KEY_WOW64_32KEY, kInnoKey, L"ProductName", L"Norlo Tessel 4");
        // Written in another letter case than the folder: still found.
        std::wstring lower = oldDir;
        for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
        WriteString(KEY_WOW64_32KEY, kInnoKey, L"InstallDir", lower);
        worker.ParseArguments({L"/install"});
    }

    std::wstring oldDir, bin, uninstaller;
};

TEST_F(InnoRemoval, AgreedRemovalRunsTheUninstallerAndHandsTheInstallToTheNextLogon)
{
    testenv::MessageBoxWatcher watcher({IDYES, IDOK});
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), nullptr);
    const auto boxes = watcher.Stop();

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, L"Norlo 5");
    EXPECT_EQ(boxes[0].text, RemovalQuestion(L"Norlo Tessel 4"));
    EXPECT_EQ(boxes[0].buttons.size(), 2u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_NE(boxes[0].icon, nullptr);
    EXPECT_EQ(boxes[1].caption, L"Norlo 5");
    EXPECT_EQ(boxes[1].text, kRestartQuestion);
    EXPECT_EQ(boxes[1].buttons.size(), 2u);

    EXPECT_EQ(RecordedLines(uninstaller), std::vector<std::string>{"/NORESTART /SILENT"});
    EXPECT_FALSE(Exists(bin + L"\\myreset.dat"));
    EXPECT_FALSE(Exists(bin + L"\\RESET.ini"));
    EXPECT_TRUE(Exists(bin + L"\\RESET.ini.bak"));
    EXPECT_TRUE(Exists(bin + L"\\Re-set.txt"));
    EXPECT_TRUE(Exists(bin + L"\\engine.dll"));
    EXPECT_TRUE(Exists(bin + L"\\reset-folder"));

    EXPECT_EQ(RunOnceCommand(), Quoted(RestartCopy()));
    EXPECT_TRUE(Exists(RestartCopy()));
    // The copy is the file this process runs from, held since it started, not whatever the
    // program's path names by now (here another program).
    const std::string copied = testenv::ReadFileBytes(RestartCopy());
    EXPECT_EQ(copied, testenv::ReadFileBytes(osh::HeldOwnImage().path));
    EXPECT_NE(copied, testenv::ReadFileBytes(worker.paths[ziz::evInitial] + L"\\norlo5-Setup.exe"));
    EXPECT_TRUE(worker.IsRestartRequired());
    EXPECT_EQ(worker.GetLastStatus(), ziz::StatusSucceeded);

    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "User chose to remove the existing product."));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Found RESET, deleting file " + Narrow(bin) + "\\myreset.dat"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, Narrow(bin) + "\\myreset.dat deleted"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             "Renaming file " + Narrow(bin) + "\\RESET.ini to " + Narrow(bin) + "\\RESET.ini.bak"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "File renamed"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Looking for RESET in RE-SET.TXT"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             "Executing " + Narrow(Quoted(uninstaller)) + " /NORESTART /SILENT"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "User chose to reboot the system and continue."));
}

// The old product's folder may have been handed to standard users: a "bin" swapped for a link
// after the checks found it (here while the removal question is shown, the link made from
// the Unix side) must not make the elevated run delete or rename files wherever it points.
TEST_F(InnoRemoval, ResetFilesOfABinSwappedForALinkAfterItsCheckAreLeftAlone)
{
    const testsupport::CanaryFolder outside(L"legacy-outside");
    const std::wstring behind = outside.folder + L"\\RESET.ini";
    statetest::WriteTextFile(behind, "not ours");
    std::unique_ptr<testsupport::FolderLink> link;
    testenv::MessageBoxWatcher watcher(
        [&](const testenv::SeenBox&, size_t index) {
            if (index == 0 && MoveFileW(bin.c_str(), (bin + L"-moved").c_str()))
                link = std::make_unique<testsupport::FolderLink>(bin, outside.folder);
            return index == 0 ? IDYES : IDOK;
        },
        0);
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), nullptr);
    watcher.Stop();

    ASSERT_TRUE(link) << "swapped while the question was shown";
    EXPECT_TRUE(Exists(behind));
    EXPECT_FALSE(Exists(behind + L".bak"));
    EXPECT_TRUE(outside.Intact());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "RESET files in " + Narrow(bin) + " left alone: " +
                                                        Narrow(Quoted(bin)) + " is a link"));
    EXPECT_EQ(-1, log.IndexOf("Found RESET"));
    EXPECT_TRUE(Exists(bin + L"-moved\\myreset.dat")) << "the old folder, now elsewhere, is not reached by path either";
    EXPECT_EQ(RecordedLines(uninstaller), std::vector<std::string>{"/NORESTART /SILENT"});
    link.reset();
}

TEST_F(InnoRemoval, RefusedRemovalFailsAndRemovesNothing)
{
    testenv::MessageBoxWatcher watcher({IDNO});
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_EQ(watcher.Stop().size(), 1u);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "User chose to NOT remove the existing product."));
    EXPECT_TRUE(RecordedLines(uninstaller).empty());
    EXPECT_TRUE(Exists(bin + L"\\myreset.dat"));
    EXPECT_TRUE(Exists(bin + L"\\RESET.ini"));
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
    EXPECT_FALSE(worker.IsRestartRequired());
}

TEST_F(InnoRemoval, RefusedRestartFailsWithoutRunOnceEntry)
{
    testenv::MessageBoxWatcher watcher({IDYES, IDCANCEL});
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_EQ(watcher.Stop().size(), 2u);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "User chose to NOT reboot the system, install aborted."));
    EXPECT_EQ(RecordedLines(uninstaller).size(), 1u);
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
    EXPECT_FALSE(worker.IsRestartRequired());
}

TEST_F(InnoRemoval, FailingUninstallerFailsWithoutTheRestartQuestion)
{
    statetest::SetStandInExitCode(uninstaller, 5);
    testenv::MessageBoxWatcher watcher({IDYES, IDOK});
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_EQ(watcher.Stop().size(), 1u);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Uninstaller " + Narrow(Quoted(uninstaller)) +
                                                      " /NORESTART /SILENT returned exit code 5"));
    EXPECT_EQ(worker.Report().FailureReason(),
              "Uninstaller " + Narrow(Quoted(uninstaller)) + " /NORESTART /SILENT returned exit code 5");
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
}

TEST_F(InnoRemoval, UnattendedRunCountsTheRemovalAsRefusedWithoutABox)
{
    worker.ParseArguments({L"/install", L"/norestart"});
    testenv::MessageBoxWatcher watcher({IDYES, IDOK});
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "User chose to NOT remove the existing product."));
    const std::string reason = "Norlo Tessel 4 must be removed before installing Norlo 5; an unattended run does "
                               "not remove it";
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, reason));
    EXPECT_EQ(worker.Report().FailureReason(), reason);
    EXPECT_TRUE(RecordedLines(uninstaller).empty());
    EXPECT_TRUE(Exists(bin + L"\\myreset.dat"));
    EXPECT_TRUE(Exists(bin + L"\\RESET.ini"));
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
    EXPECT_FALSE(worker.IsRestartRequired());
    EXPECT_FALSE(worker.IsRestartAgreed());
}

TEST_F(InnoRemoval, ViewerInstallFailsWithoutAsking)
{
    worker.ParseArguments({L"/install", L"/viewer"});
    testenv::MessageBoxWatcher watcher({IDYES, IDOK});
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to install viewer on a Norlo3 System."));
    EXPECT_TRUE(RecordedLines(uninstaller).empty());
}

TEST_F(InnoRemoval, NoPreviousGenerationPassesOnWithoutAsking)
{
    testenv::MessageBoxWatcher watcher({IDYES, IDOK});
    // Registered outside the parent of this product's folder: ignored.
    WriteString(KEY_WOW64_32KEY, kInnoKey, L"InstallDir", scratch + L"\\Elsewhere\\Norlo Tessel");
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateRemovingBetaInstall::Instance());
    // A folder name that is not one of the product's old names: ignored too.
    WriteString(KEY_WOW64_32KEY, kInnoKey, L"InstallDir", programs + L"\\Norlo Tessel 3");
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateRemovingBetaInstall::Instance());
    // The folder without its uninstaller.
    WriteString(KEY_WOW64_32KEY, kInnoKey, L"InstallDir", oldDir);
    DeleteFileW(uninstaller.c_str());
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateRemovingBetaInstall::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             Narrow(Quoted(uninstaller)) + " does not exist, old product not found."));
    // No registration at all.
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInnoKey, KEY_WOW64_32KEY, 0);
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateRemovingBetaInstall::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to find INNO product name, INNO install not removed."));
    // No 32-bit installation folder.
    worker.paths.erase(ziz::evInstall32);
    EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), ziz::StateRemovingBetaInstall::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to get the setup path, INNO installs not removed."));
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_TRUE(Exists(bin + L"\\myreset.dat"));
}

// --- The beta of this generation -----------------------------------------------------------

class BetaRemoval : public LegacyRemoval {
protected:
    void SetUp() override
    {
        LegacyRemoval::SetUp();
        betaDir = programs + L"\\Norlo 5.0";
        uninstaller = betaDir + L"\\uninstall.exe";
        dashboard = betaDir + L"\\Tarnview.exe";
        PlaceStandIn(uninstaller);
        PlaceStandIn(dashboard);
        // What an unquoted "...\Norlo 5.0\uninstall.exe" would start instead.
        trap = programs + L"\\Norlo.exe";
        PlaceStandIn(trap);
        worker.ParseArguments({L"/install"});
    }

    std::wstring betaDir, uninstaller, dashboard, trap;
};

TEST_F(BetaRemoval, AgreedRemovalHandsTheMigrationAndClientIdToTheNextLogon)
{
    const std::wstring migrateDir = scratch + L"\\data\\Norlo 5.0";
    statetest::MakeFolders(migrateDir);
    WriteString(KEY_WOW64_64KEY, kBetaKey, L"CLID", L"{0a1b2c3d-beta}");
    testenv::MessageBoxWatcher watcher({IDYES});
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), nullptr);
    const auto boxes = watcher.Stop();

    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Norlo 5");
    EXPECT_EQ(boxes[0].text, RemovalQuestion(L"Norlo 5 Beta"));
    EXPECT_EQ(RecordedLines(dashboard), std::vector<std::string>{"--quit"});
    EXPECT_FALSE(Exists(dashboard));
    EXPECT_EQ(RecordedLines(uninstaller), std::vector<std::string>{""});
    EXPECT_TRUE(RecordedLines(trap).empty());
    EXPECT_EQ(RunOnceCommand(),
              Quoted(RestartCopy()) + L" /migrate=" + Quoted(migrateDir) + L" /clid={0a1b2c3d-beta}");
    EXPECT_TRUE(Exists(RestartCopy()));
    EXPECT_FALSE(worker.IsRestartRequired());
    EXPECT_EQ(worker.GetLastStatus(), ziz::StatusSucceeded);
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "User chose to remove the beta product."));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Executing " + Narrow(Quoted(uninstaller))));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             "Checking SOFTWARE\\Norlo\\Norlo 5.0\\OrganizationDefaults for existing CLID"));
}

TEST_F(BetaRemoval, WithoutClientIdOrMigrationFolderOnlyTheSetupCopyIsNamed)
{
    DeleteFileW(dashboard.c_str());
    testenv::MessageBoxWatcher watcher({IDYES});
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), nullptr);
    EXPECT_EQ(watcher.Stop().size(), 1u);
    EXPECT_EQ(RunOnceCommand(), Quoted(RestartCopy()));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to find CLID in registry."));
    EXPECT_EQ(RecordedLines(uninstaller).size(), 1u);
}

TEST_F(BetaRemoval, AnEmptyClientIdIsNotHandedOn)
{
    const std::wstring migrateDir = scratch + L"\\data\\Norlo 5.0";
    statetest::MakeFolders(migrateDir);
    WriteString(KEY_WOW64_64KEY, kBetaKey, L"CLID", L"");
    testenv::MessageBoxWatcher watcher({IDYES});
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), nullptr);
    EXPECT_EQ(watcher.Stop().size(), 1u);
    EXPECT_EQ(RunOnceCommand(), Quoted(RestartCopy()) + L" /migrate=" + Quoted(migrateDir));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to find CLID in registry."));
}

TEST_F(BetaRemoval, RefusedRemovalOrFailingUninstallerFails)
{
    {
        testenv::MessageBoxWatcher watcher({IDNO});
        EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
        EXPECT_EQ(watcher.Stop().size(), 1u);
    }
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "User chose to NOT remove the beta product."));
    EXPECT_TRUE(RecordedLines(uninstaller).empty());
    EXPECT_TRUE(RecordedLines(dashboard).empty());
    EXPECT_EQ(RunOnceCommand(), L"<missing>");

    statetest::SetStandInExitCode(uninstaller, 3);
    {
        testenv::MessageBoxWatcher watcher({IDYES});
        EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    }
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR,
                             "Uninstaller " + Narrow(Quoted(uninstaller)) + " returned exit code 3"));
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
}

TEST_F(BetaRemoval, UnattendedRunCountsTheRemovalAsRefusedWithoutABox)
{
    worker.ParseArguments({L"/update", L"/norestart"});
    testenv::MessageBoxWatcher watcher({IDYES});
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), ziz::StateFailed::Instance());
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "User chose to NOT remove the beta product."));
    EXPECT_EQ(worker.Report().FailureReason(),
              "Norlo 5 Beta must be removed before installing Norlo 5; an unattended run does not remove it");
    EXPECT_TRUE(RecordedLines(uninstaller).empty());
    EXPECT_TRUE(RecordedLines(dashboard).empty());
    EXPECT_TRUE(Exists(dashboard));
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
}

TEST_F(BetaRemoval, NoBetaPassesOnWithoutAsking)
{
    testenv::MessageBoxWatcher watcher({IDYES});
    DeleteFileW(uninstaller.c_str());
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), ziz::StatePerformingSoftwareStops::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             Narrow(Quoted(uninstaller)) + " does not exist, beta product not found."));
    testenv::RemoveTree(betaDir);
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), ziz::StatePerformingSoftwareStops::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                             Narrow(Quoted(betaDir)) + " does not exist, beta product not found."));
    worker.paths.erase(ziz::evInstall);
    EXPECT_EQ(ziz::StateRemovingBetaInstall::Instance()->Exec(worker), ziz::StatePerformingSoftwareStops::Instance());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to get the install path, beta installs not removed."));
    EXPECT_TRUE(watcher.Stop().empty());
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
}

}  // namespace
