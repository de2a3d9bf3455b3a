// The states that open a run: stale copies and local candidates, the published
// bootstrapper, its download and the hand-over, and the embedded sequence.
#include "support/BrokenPlatform.h"
#include "support/EndToEnd.h"
#include "support/LogCapture.h"
#include "support/StateFiles.h"
#include "support/StateWorker.h"
#include "support/TestEnvironment.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/HandBack.h"
#include "engine/FileVersion.h"
#include "engine/states/StateChoosingBootstrapper.h"
#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateDownloadingBootstrapper.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateInitializing.h"
#include "engine/states/StateLoadingSequence.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "engine/states/StateProcessingDownloads.h"
#include "engine/states/StateSeekingSelfUpdate.h"
#include "osh/ScopedHandle.h"
#include "sequence/SafeFileName.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::LogCapture;
using testsupport::Notification;
using testsupport::ServedFolder;
using testsupport::StateWorker;
using testenv::Narrow;

const wchar_t* const kNewerName = L"norlo5-Setup-5.0.1038.10828.exe";
const wchar_t* const kNewerVersion = L"5.0.1038.10828";

std::wstring NewerBootstrapper() { return endtoend::ReleaseFile(kNewerName); }

std::wstring VersionOf(const std::wstring& path)
{
    std::wstring version;
    EXPECT_TRUE(ziz::ReadFileVersion(version, path)) << Narrow(path);
    return version;
}

std::string UpdateDocument(const std::wstring& url, const std::wstring& name, const std::wstring& version,
                           int items = 1)
{
    std::string document = "<?xml version=\"1.0\" encoding=\"us-ascii\"?><Installer><bootstrapper>";
    for (int i = 0; i < items; ++i) {
        document += "<Item Order=\"" + std::to_string(i) + "\"><url>" + Narrow(url) + "</url><filename>" +
                    Narrow(name) + "</filename><version>" + Narrow(version) + "</version></Item>";
    }
    return document + "</bootstrapper></Installer>";
}

class Scratch : public ::testing::Test {
protected:
    void SetUp() override { scratch_ = testenv::MakeScratchDirectory(L"statesa"); }
    void TearDown() override { testenv::RemoveTree(scratch_); }
    std::wstring In(const std::wstring& name) const { return scratch_ + L"\\" + name; }
    std::wstring MakeDirectory(const std::wstring& name) const
    {
        CreateDirectoryW(In(name).c_str(), nullptr);
        return In(name);
    }
    std::wstring scratch_;
};

// ---------------------------------------------------------------------------------------
// Initializing

ziz::WorkerState* InitializingFor(std::vector<std::wstring> options)
{
    options.insert(options.begin(), L"C:\\Media\\Setup.exe");
    StateWorker worker(options);
    return ziz::StateInitializing::Instance()->Exec(worker);
}

TEST(Initializing, SuccessorFollowsTheMode)
{
    EXPECT_EQ(ziz::StateSeekingSelfUpdate::Instance(), InitializingFor({}));
    EXPECT_EQ(ziz::StateSeekingSelfUpdate::Instance(), InitializingFor({L"/update"}));
    EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), InitializingFor({L"/nocheck"}));
    EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), InitializingFor({L"/update", L"--nocheck"}));
    EXPECT_EQ(ziz::StateSeekingSelfUpdate::Instance(), InitializingFor({L"/download"}));
    EXPECT_EQ(ziz::StateSeekingSelfUpdate::Instance(), InitializingFor({L"/check"}));
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), InitializingFor({L"/uninstall"}));
    EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), InitializingFor({L"/appliance=E:\\"}));
}

TEST(Initializing, InvalidModeFails)
{
    LogCapture log;
    StateWorker worker;
    worker.SetMode(ziz::INVALID);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateInitializing::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in StateInitializing"));
}

using InitializingFiles = Scratch;

TEST_F(InitializingFiles, SetupDirectoryThatCannotBeCreatedFailsEveryMode)
{
    testsupport::WriteTextFile(In(L"blocker"), "a file where a folder should go");
    const std::wstring setup = In(L"blocker\\SetupFiles");
    {
        // An elevated run caches nothing there and goes on from its own work folder.
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", L"/install"});
        worker.paths[ziz::evSetup] = setup;
        worker.fileNames[ziz::evSetup] = L"Setup.exe";
        EXPECT_NE(ziz::StateFailed::Instance(), ziz::StateInitializing::Instance()->Exec(worker));
        EXPECT_FALSE(log.Contains(Message::PRIO_ERROR, "Could not create directory path " + Narrow(setup)));
    }
    testsupport::NotElevated notElevated;
    for (const wchar_t* mode : {L"/check", L"/install", L"/uninstall"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        worker.paths[ziz::evSetup] = setup;
        worker.fileNames[ziz::evSetup] = L"Setup.exe";
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateInitializing::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Could not create directory path " + Narrow(setup)));
    }
}

TEST_F(InitializingFiles, CreatesTheSetupDirectoryAndConsidersTheRunningProgram)
{
    const std::wstring media = MakeDirectory(L"Media");
    ASSERT_TRUE(CopyFileW(NewerBootstrapper().c_str(), (media + L"\\Setup.exe").c_str(), FALSE));
    StateWorker worker;
    worker.paths[ziz::evInitial] = media + L"\\";
    worker.fileNames[ziz::evInitial] = L"Setup.exe";
    worker.paths[ziz::evSetup] = In(L"Data\\Norlo\\SetupFiles");
    worker.fileNames[ziz::evSetup] = L"Setup.exe";
    EXPECT_EQ(ziz::StateSeekingSelfUpdate::Instance(), ziz::StateInitializing::Instance()->Exec(worker));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(In(L"Data\\Norlo\\SetupFiles").c_str()));
    EXPECT_EQ(media + L"\\Setup.exe", worker.BestPath());  // one backslash between
    EXPECT_EQ(kNewerVersion, worker.BestVersion());
}

TEST_F(InitializingFiles, UnsignedSetupFilesCopyNeverBecomesACandidate)
{
    // The running program is the older test build; an unsigned newer program of the same
    // name waits in the setup-files directory.
    const std::wstring media = MakeDirectory(L"Media");
    const std::wstring setup = MakeDirectory(L"SetupFiles");
    ASSERT_TRUE(CopyFileW(testenv::SetupExecutable().c_str(), (media + L"\\Setup.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(NewerBootstrapper().c_str(), (setup + L"\\Setup.exe").c_str(), FALSE));
    StateWorker worker;
    worker.paths[ziz::evInitial] = media;
    worker.fileNames[ziz::evInitial] = L"Setup.exe";
    worker.paths[ziz::evSetup] = setup;
    worker.fileNames[ziz::evSetup] = L"Setup.exe";
    ziz::StateInitializing::Instance()->Exec(worker);
    EXPECT_EQ(media + L"\\Setup.exe", worker.BestPath());
    EXPECT_EQ(VersionOf(testenv::SetupExecutable()), worker.BestVersion());
}

TEST_F(InitializingFiles, UnreadableVersionGivesNoCandidate)
{
    const std::wstring media = MakeDirectory(L"Media");
    testsupport::WriteTextFile(media + L"\\Setup.exe", "not a program");
    StateWorker worker;
    worker.paths[ziz::evInitial] = media;
    worker.fileNames[ziz::evInitial] = L"Setup.exe";
    ziz::StateInitializing::Instance()->Exec(worker);
    EXPECT_EQ(L"", worker.BestPath());
    EXPECT_EQ(L"", worker.BestVersion());
}

// Copies of this test program serve as the "stale copies": one repeats a quick test
// forever, the other runs one test and writes a report when it ends normally.
std::wstring ThisProgram()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

osh::ScopedHandle StartCopy(const std::wstring& program, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return osh::ScopedHandle();
    }
    CloseHandle(info.hThread);
    return osh::ScopedHandle(info.hProcess);
}

const wchar_t* const kForever = L"--gtest_filter=LoadingSequence.SequenceThatCannotBeLoadedFails --gtest_repeat=-1";

using StaleCopies = Scratch;

TEST_F(StaleCopies, OnlyCopiesOfThisProgramInOurSetupDirectoryAreEnded)
{
    const std::wstring setup = MakeDirectory(L"SetupFiles");
    const std::wstring stale = setup + L"\\Setup.exe";
    // Another vendor's program under its own "\SetupFiles\" folder, and a program of
    // another name in ours, are not ours to end.
    MakeDirectory(L"Vendor");
    const std::wstring foreign = MakeDirectory(L"Vendor\\SetupFiles") + L"\\Setup.exe";
    const std::wstring otherName = setup + L"\\copy.exe";
    for (const std::wstring& copy : {stale, foreign, otherName}) {
        ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), copy.c_str(), FALSE));
    }
    osh::ScopedHandle staleProcess = StartCopy(stale, kForever);
    osh::ScopedHandle foreignProcess = StartCopy(foreign, kForever);
    osh::ScopedHandle otherProcess = StartCopy(otherName, kForever);
    ASSERT_TRUE(staleProcess && foreignProcess && otherProcess);
    Sleep(1500);
    ASSERT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(staleProcess.get(), 0));

    LogCapture log;
    StateWorker worker;
    worker.paths[ziz::evSetup] = setup;
    worker.fileNames[ziz::evSetup] = L"Setup.exe";
    EXPECT_EQ(ziz::StateSeekingSelfUpdate::Instance(), ziz::StateInitializing::Instance()->Exec(worker));

    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(staleProcess.get(), 20000));
    DWORD exitCode = 1;
    EXPECT_TRUE(GetExitCodeProcess(staleProcess.get(), &exitCode));
    // Whoever waits for the stale copy must not read success.
    EXPECT_EQ(0xFFFFFFFFu, exitCode);
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Ended stale copy " + Narrow(stale) + " (process " +
                                                            std::to_string(GetProcessId(staleProcess.get())) + ")"));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(foreignProcess.get(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(otherProcess.get(), 0));
    EXPECT_EQ(-1, log.IndexOf("Ended stale copy " + Narrow(foreign)));
    TerminateProcess(foreignProcess.get(), 7);
    TerminateProcess(otherProcess.get(), 7);
    WaitForSingleObject(foreignProcess.get(), 20000);
    WaitForSingleObject(otherProcess.get(), 20000);
}

TEST_F(StaleCopies, ACopyRunningFromASetupFilesFolderSparesItself)
{
    const std::wstring copy = MakeDirectory(L"SetupFiles") + L"\\copy.exe";
    ASSERT_TRUE(CopyFileW(ThisProgram().c_str(), copy.c_str(), FALSE));
    const std::wstring report = In(L"report.xml");
    osh::ScopedHandle process =
        StartCopy(copy, L"--gtest_filter=Initializing.SuccessorFollowsTheMode --gtest_output=xml:" + report);
    ASSERT_TRUE(process);
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process.get(), 60000));
    // A process that ended itself would not have written its report.
    EXPECT_NE(std::string::npos, testsupport::ReadTextFile(report).find("failures=\"0\""));
}

TEST(SafeFileName, OnlyBareNamesPass)
{
    for (const wchar_t* name : {L"Setup.exe", L"norlo5-custom-5.0.1038.10828__PRE.msi", L"a", L".hidden", L"x..y"}) {
        EXPECT_TRUE(IsSafeFileName(name)) << Narrow(name);
    }
    for (const wchar_t* name : {L"", L".", L"..", L"...", L". .", L" ", L"..\\x.exe", L"a\\b", L"a/b", L"/x",
                                L"C:x.exe", L"x.exe:stream", L"tab\there"}) {
        EXPECT_FALSE(IsSafeFileName(name)) << Narrow(name);
    }
    EXPECT_FALSE(IsSafeFileName(std::wstring(L"a\0b", 3)));
    InstallItem item;
    item.Filename = L"..";
    try {
        RequireSafeFileName(item);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("Install item has an unsafe file name \"..\"", error.what());
    }
}

// ---------------------------------------------------------------------------------------
// SeekingSelfUpdate

class SeekingSelfUpdate : public Scratch {
protected:
    void SetUp() override
    {
        Scratch::SetUp();
        served_.reset(new ServedFolder(L"statesa-seek"));
    }
    void TearDown() override
    {
        served_.reset();
        Scratch::TearDown();
    }
    // An engine whose best candidate is the running program at version local.
    void Prepare(StateWorker& worker, const std::wstring& local = L"5.0.1000.1")
    {
        worker.paths[ziz::evTempDir] = scratch_;
        worker.hasUpdateUrl = true;
        worker.updateUrl = served_->Url(L"update.xml");
        if (!local.empty()) worker.ConsiderCandidate(L"C:\\Media\\Setup.exe", local);
    }
    void Publish(const std::wstring& version, int items = 1, const std::wstring& name = kNewerName)
    {
        served_->Put(L"update.xml", UpdateDocument(served_->Url(kNewerName), name, version, items));
    }
    std::unique_ptr<ServedFolder> served_;
};

TEST_F(SeekingSelfUpdate, NewerBootstrapperGoesToItsDownloadInInstallAndUpdate)
{
    Publish(kNewerVersion);
    for (const wchar_t* mode : {L"/install", L"/update"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        Prepare(worker);
        EXPECT_EQ(ziz::StateDownloadingBootstrapper::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker));
        ASSERT_FALSE(worker.notifications.empty());
        EXPECT_EQ((Notification{ziz::StatusChecking, 0, 0}), worker.notifications.front());
        const InstallSequence items = worker.Items();
        ASSERT_EQ(1u, items.size());
        EXPECT_EQ(kNewerName, items.front().Filename);
        EXPECT_EQ(served_->Url(kNewerName), items.front().Url);
        EXPECT_EQ(kNewerVersion, items.front().Version);
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Downloading XML file from web server"));
        EXPECT_FALSE(testsupport::ReadTextFile(In(L"update.xml")).empty());
        // Only a hand-over changes the best candidate.
        EXPECT_EQ(L"5.0.1000.1", worker.BestVersion());
    }
}

TEST_F(SeekingSelfUpdate, DownloadModeSavesTheNewerBootstrapperAsUpdateExe)
{
    Publish(kNewerVersion);
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/download"});
    Prepare(worker);
    EXPECT_EQ(ziz::StateDownloadingBootstrapper::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker));
    const InstallSequence items = worker.Items();
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ(L"Update.exe", items.front().Filename);
}

TEST_F(SeekingSelfUpdate, CheckModeRemembersTheNewerOneAndSucceeds)
{
    Publish(kNewerVersion);
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/check"});
    Prepare(worker);
    EXPECT_EQ(nullptr, ziz::StateSeekingSelfUpdate::Instance()->Exec(worker));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusChecking, 0, 0}, {ziz::StatusSucceeded, 0, 0}}),
              worker.notifications);
    EXPECT_EQ(served_->Url(kNewerName), worker.BestPath());
    EXPECT_EQ(kNewerVersion, worker.BestVersion());
}

TEST_F(SeekingSelfUpdate, EqualOrOlderVersionIsNotNewer)
{
    for (const wchar_t* published : {L"5.0.1000.1", L"5.0.999.9", L"5.0.1000"}) {
        Publish(published);
        StateWorker install;
        Prepare(install);
        EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(install))
            << Narrow(published);
        EXPECT_TRUE(install.Items().empty());
        StateWorker download({L"C:\\Media\\Setup.exe", L"/download"});
        Prepare(download);
        EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(download));
        StateWorker check({L"C:\\Media\\Setup.exe", L"/check"});
        Prepare(check);
        EXPECT_EQ(nullptr, ziz::StateSeekingSelfUpdate::Instance()->Exec(check));
        EXPECT_EQ(ziz::StatusUpToDate, check.GetLastStatus());
        EXPECT_EQ(L"C:\\Media\\Setup.exe", check.BestPath());
        EXPECT_EQ("", check.Report().FailureReason()) << "a document that was read answers";
    }
}

TEST_F(SeekingSelfUpdate, WithoutALocalVersionAnythingPublishedIsNewer)
{
    Publish(L"1.0");
    LogCapture log;
    StateWorker worker;
    Prepare(worker, L"");
    EXPECT_EQ(ziz::StateDownloadingBootstrapper::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Local 'best' version number unavailable"));
}

TEST_F(SeekingSelfUpdate, UninstallApplianceAndInvalidModesFail)
{
    for (ziz::InstallMode mode : {ziz::UNINSTALL, ziz::APPLIANCE, ziz::INVALID}) {
        LogCapture log;
        StateWorker worker;
        Prepare(worker);
        worker.SetMode(mode);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker));
        EXPECT_EQ((std::vector<Notification>{{ziz::StatusChecking, 0, 0}}), worker.notifications);
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in StateSeekingSelfUpdate"));
        EXPECT_EQ(-1, log.IndexOf("Downloading XML file from web server"));
    }
}

// Runs a check and expects it to fail (never "up to date") with the given error line, and
// that line or the given cause in words as the run's failure reason; then an install with
// the same engine, which carries on with the local bootstrapper.
void ExpectCheckNotNewer(StateWorker& worker, const std::string& line, const std::string& reason = std::string())
{
    LogCapture log;
    worker.SetMode(ziz::CHECK);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker)) << line;
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusChecking, 0, 0}}), worker.notifications) << line;
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, line)) << line;
    EXPECT_EQ(reason.empty() ? line : reason, worker.Report().FailureReason());
    EXPECT_EQ(L"C:\\Media\\Setup.exe", worker.BestPath()) << line;

    worker.SetMode(ziz::INSTALL);
    EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker))
        << line;
    EXPECT_TRUE(worker.Items().empty()) << line;
}

TEST_F(SeekingSelfUpdate, EveryFailureToObtainTheDocumentCountsAsNotNewer)
{
    Publish(kNewerVersion);
    {
        StateWorker worker;
        Prepare(worker);
        worker.paths.erase(ziz::evTempDir);
        ExpectCheckNotNewer(worker, "Could not find temp directory");
    }
    {
        StateWorker worker;
        Prepare(worker);
        worker.hasUpdateUrl = false;
        ExpectCheckNotNewer(worker, "Could not find update URL");
    }
    {
        StateWorker worker;
        Prepare(worker);
        worker.updateUrl = L"http://127.0.0.1:" + std::to_wstring(testsupport::ClosedPort()) + L"/update.xml";
        ExpectCheckNotNewer(worker, "Could not download " + Narrow(worker.updateUrl) + " to " + Narrow(In(L"update.xml")),
                            "Download of \"" + Narrow(worker.updateUrl) +
                                "\" failed: the connection was refused (no server answers at that address) (error 12029)");
    }
    {
        // A 404 page is no document: the status fails the transfer, and nothing is read.
        StateWorker worker;
        Prepare(worker);
        worker.updateUrl = served_->Url(L"update.xml", L"404/");
        ExpectCheckNotNewer(worker, "Could not download " + Narrow(worker.updateUrl) + " to " + Narrow(In(L"update.xml")),
                            "Download of \"" + Narrow(worker.updateUrl) + "\" failed: HTTP 404");
    }
}

TEST_F(SeekingSelfUpdate, MalformedOrAmbiguousDocumentsCountAsNotNewer)
{
    served_->Put(L"update.xml", "<Installer><bootstrapper><Item><url>x</url></bootstrapper>");
    StateWorker malformed;
    Prepare(malformed);
    ExpectCheckNotNewer(malformed, "Could not load bootstrapper sequence from " + Narrow(In(L"update.xml")));

    for (int count : {0, 2}) {
        Publish(kNewerVersion, count);
        LogCapture log;
        StateWorker worker;
        Prepare(worker);
        EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Could not load bootstrapper sequence from " + Narrow(In(L"update.xml"))));
        EXPECT_GE(log.IndexOf("Sequence bootstrapper has wrong item count (" + std::to_string(count) + ") is not one)"), 0);
        StateWorker check;
        Prepare(check);
        ExpectCheckNotNewer(check, "Could not load bootstrapper sequence from " + Narrow(In(L"update.xml")));
    }
    // A version that cannot be placed says nothing about being up to date.
    Publish(L"five");
    StateWorker unreadable;
    Prepare(unreadable);
    ExpectCheckNotNewer(unreadable, "Bootstrapper item has an unreadable version \"five\", ignored");
}

TEST_F(SeekingSelfUpdate, UnsafeFileNameFromTheNetworkCountsAsNotNewer)
{
    for (const wchar_t* name : {L"..\\..\\Windows\\evil.exe", L"..", L".", L"a/b.exe", L"C:evil.exe", L"sub\\x.exe"}) {
        Publish(kNewerVersion, 1, name);
        LogCapture log;
        StateWorker worker;
        Prepare(worker);
        EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), ziz::StateSeekingSelfUpdate::Instance()->Exec(worker))
            << Narrow(name);
        EXPECT_TRUE(worker.Items().empty());
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR,
                                 "Bootstrapper item has an unsafe file name \"" + Narrow(name) + "\", ignored"))
            << Narrow(name);
    }
    // An empty file name element is just as unusable.
    served_->Put(L"update.xml", "<Installer><bootstrapper><Item><url>" + Narrow(served_->Url(kNewerName)) +
                                    "</url><version>9.0</version></Item></bootstrapper></Installer>");
    StateWorker worker;
    Prepare(worker);
    ExpectCheckNotNewer(worker, "Bootstrapper item has an unsafe file name \"\", ignored");
}

// ---------------------------------------------------------------------------------------
// DownloadingBootstrapper

class DownloadingBootstrapper : public Scratch {
protected:
    void SetUp() override
    {
        Scratch::SetUp();
        served_.reset(new ServedFolder(L"statesa-boot"));
        served_->PutCopy(kNewerName, NewerBootstrapper());
        temp_ = MakeDirectory(L"Temp");
        setup_ = MakeDirectory(L"SetupFiles");
    }
    void TearDown() override
    {
        served_.reset();
        Scratch::TearDown();
    }
    InstallItem Item(const std::wstring& url, const std::wstring& name = kNewerName) const
    {
        InstallItem item;
        item.Filename = name;
        item.Url = url;
        item.Version = kNewerVersion;
        item.Hash = testenv::Widen(endtoend::FileMd5(NewerBootstrapper()));
        return item;
    }
    void Prepare(StateWorker& worker, const InstallSequence& items) const
    {
        worker.paths[ziz::evTempDir] = temp_;
        worker.paths[ziz::evSetup] = setup_;
        worker.SetItems(items);
    }
    std::unique_ptr<ServedFolder> served_;
    std::wstring temp_;
    std::wstring setup_;
};

TEST_F(DownloadingBootstrapper, InstallFetchesIntoTheTemporaryDirectoryAndVerifies)
{
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {Item(served_->Url(kNewerName))});
    EXPECT_EQ(ziz::StateChoosingBootstrapper::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(worker));
    const std::wstring file = temp_ + L"\\" + kNewerName;
    const InstallSequence items = worker.Items();
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ(file, items.front().LocalPath);
    EXPECT_EQ(endtoend::FileMd5(NewerBootstrapper()), endtoend::FileMd5(file));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusDownloading, 0, 1}}), worker.notifications);
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Downloaded " + Narrow(file)));
}

// Elevated (as every run in this prefix is), the bootstrapper is fetched into the run's
// admin-only folder and started from there; the setup files get a checked copy.
TEST_F(DownloadingBootstrapper, DownloadAndApplianceFetchIntoTheSetupDirectory)
{
    for (const wchar_t* mode : {L"/download", L"/appliance=E:\\"}) {
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        Prepare(worker, {Item(served_->Url(kNewerName), L"Update.exe")});
        EXPECT_EQ(ziz::StateChoosingBootstrapper::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(worker));
        ASSERT_EQ(1u, worker.Items().size());
        EXPECT_EQ(Narrow(ziz::ElevatedComponentFolder() + L"\\Update.exe"), Narrow(worker.Items().front().LocalPath));
        EXPECT_EQ(endtoend::FileMd5(NewerBootstrapper()), endtoend::FileMd5(setup_ + L"\\Update.exe"));
        EXPECT_TRUE(DeleteFileW((setup_ + L"\\Update.exe").c_str()));
    }
}

TEST_F(DownloadingBootstrapper, FileFailingItsCheckIsDeletedAndOnlyFatalForDownloads)
{
    for (const wchar_t* mode : {L"/install", L"/download"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        InstallItem item = Item(served_->Url(kNewerName));
        item.Hash = L"00000000000000000000000000000000";
        Prepare(worker, {item});
        ziz::WorkerState* next = ziz::StateDownloadingBootstrapper::Instance()->Exec(worker);
        const bool install = std::wstring(mode) == L"/install";
        EXPECT_EQ(install ? static_cast<ziz::WorkerState*>(ziz::StateChoosingBootstrapper::Instance())
                          : ziz::StateFailed::Instance(),
                  next);
        EXPECT_TRUE(worker.Items().empty());
        const std::wstring directory = install ? temp_ : ziz::ElevatedComponentFolder();
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((directory + L"\\" + kNewerName).c_str()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((setup_ + L"\\" + kNewerName).c_str())) << "nothing cached";
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, Narrow(kNewerName) + " not ready for install"));
        EXPECT_EQ(!install, log.Contains(Message::PRIO_ERROR, "Cannot continue download."));
    }
}

TEST_F(DownloadingBootstrapper, FailedDownloadIsLogged)
{
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(testsupport::ClosedPort()) + L"/x.exe";
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {Item(url)});
    EXPECT_EQ(ziz::StateChoosingBootstrapper::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to download " + Narrow(url)));
    EXPECT_TRUE(worker.Items().empty());
}

TEST_F(DownloadingBootstrapper, ListWithoutExactlyOneItemDownloadsNothing)
{
    const InstallItem item = Item(served_->Url(kNewerName));
    for (size_t count : {0u, 2u}) {
        LogCapture log;
        StateWorker install;
        Prepare(install, InstallSequence(count, item));
        EXPECT_EQ(ziz::StateChoosingBootstrapper::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(install));
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Install Item list invalid (" + std::to_string(count) + ")"));
        EXPECT_TRUE(install.notifications.empty());
        EXPECT_TRUE(install.Items().empty());
        StateWorker download({L"C:\\Media\\Setup.exe", L"/download"});
        Prepare(download, InstallSequence(count, item));
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(download));
    }
}

TEST_F(DownloadingBootstrapper, MissingDirectoriesAndOtherModesFail)
{
    struct Case {
        const wchar_t* mode;
        ziz::PathKind missing;
        const char* line;
    };
    for (const Case& c : {Case{L"/install", ziz::evTempDir, "Could not discover temp directory"},
                          Case{L"/update", ziz::evTempDir, "Could not discover temp directory"},
                          Case{L"/download", ziz::evSetup, "Could not discover setup directory"},
                          Case{L"/appliance=E:\\", ziz::evSetup, "Could not discover setup directory"},
                          Case{L"/check", ziz::evLog, "Invalid mode in StateDownloadingBootstrapper::Exec()"},
                          Case{L"/uninstall", ziz::evLog, "Invalid mode in StateDownloadingBootstrapper::Exec()"}}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", c.mode});
        Prepare(worker, {Item(served_->Url(kNewerName))});
        worker.paths.erase(c.missing);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, c.line)) << c.line;
        EXPECT_TRUE(worker.notifications.empty());
    }
}

TEST_F(DownloadingBootstrapper, UnsafeFileNameIsNeverWritten)
{
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {Item(served_->Url(kNewerName), L"..\\Escaped.exe")});
    EXPECT_EQ(ziz::StateChoosingBootstrapper::Instance(), ziz::StateDownloadingBootstrapper::Instance()->Exec(worker));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(In(L"Escaped.exe").c_str()));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Install item has an unsafe file name \"..\\Escaped.exe\""));
    EXPECT_TRUE(worker.Items().empty());
}

// ---------------------------------------------------------------------------------------
// ChoosingBootstrapper

using ChoosingBootstrapper = Scratch;

// The command line the stand-in recorded in "<path>.ran" (its first block).
std::wstring RecordedCommandLine(const std::wstring& standIn)
{
    const std::string text = testsupport::ReadTextFile(standIn + L".ran");
    const std::string prefix = "command line: ";
    const size_t end = text.find("\r\n");
    if (text.compare(0, prefix.size(), prefix) != 0 || end == std::string::npos) return L"";
    return testenv::Widen(text.substr(prefix.size(), end - prefix.size()));
}

TEST_F(ChoosingBootstrapper, StartsTheNewerBootstrapperWaitsAndEndsWithItsExitCode)
{
    // The stand-in records its command line and working directory in "<path>.ran" and
    // ends with 2 without its "/q" switch, with 0 when it has it.
    const std::wstring next = MakeDirectory(L"Next Setup") + L"\\next setup.exe";
    ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(L"vcredist_x86.exe").c_str(), next.c_str(), FALSE));
    for (int expectedCode : {2, 0}) {
        DeleteFileW((next + L".ran").c_str());
        std::vector<std::wstring> arguments{L"C:\\Media\\Setup.exe", L"/install", L"/viewer", L"/migrate=D:\\Old Data"};
        if (expectedCode == 0) arguments.push_back(L"/q");
        LogCapture log;
        // The caller's result file stays with this process: the newer one hands its facts back.
        std::vector<std::wstring> given = arguments;
        given.insert(given.begin() + 2, L"/result=C:\\Results\\r.json");
        StateWorker worker(given);
        worker.paths[ziz::evInitial] = L"C:\\Media";
        worker.fileNames[ziz::evInitial] = L"Setup.exe";
        worker.paths[ziz::evTempDir] = scratch_;
        worker.ConsiderCandidate(L"C:\\Media\\Setup.exe", L"5.0.1000.1");
        InstallItem downloaded;
        downloaded.LocalPath = next;
        InstallItem notDownloaded;
        worker.SetItems({notDownloaded, downloaded});
        worker.SetRestartRequired(true);

        EXPECT_EQ(nullptr, ziz::StateChoosingBootstrapper::Instance()->Exec(worker));
        EXPECT_EQ(next, worker.BestPath());
        // The run waited: the stand-in has ended and its record is complete.
        EXPECT_EQ((std::vector<Notification>{{ziz::StatusHandingOver, 0, 0}, {ziz::StatusHandedOver, expectedCode, 0}}),
                  worker.notifications);
        EXPECT_TRUE(worker.Report().HandedOver());
        EXPECT_EQ(expectedCode, worker.Report().ChildExitCode());
        EXPECT_FALSE(worker.IsRestartRequired());
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, Narrow(next) + " ended with exit code " +
                                                                std::to_string(expectedCode)));
        EXPECT_EQ(ziz::HandBackFile(ziz::HandBackId(), ziz::IsElevatedRun()), worker.Report().HandBackFile());
        arguments.front() = next;
        arguments.push_back(L"/handback=" + ziz::HandBackId());
        EXPECT_EQ(arguments, testenv::ParsedBack(RecordedCommandLine(next)));
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        EXPECT_NE(std::string::npos, testsupport::ReadTextFile(next + L".ran").find("directory: " + Narrow(current) + "\r\n"));
    }
}

TEST_F(ChoosingBootstrapper, ArgumentsWithTrailingBackslashesAndQuotesArriveUnchanged)
{
    const std::wstring next = MakeDirectory(L"Next") + L"\\next.exe";
    ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(L"vcredist_x86.exe").c_str(), next.c_str(), FALSE));
    const std::vector<std::wstring> arguments{L"C:\\Media\\Setup.exe", L"/appliance=C:\\My Media\\",
                                              L"/note=say \"hi\"", L"", L"C:\\plain\\", L"a\\\"b"};
    StateWorker worker(arguments);
    worker.paths[ziz::evInitial] = L"C:\\Media";
    worker.fileNames[ziz::evInitial] = L"Setup.exe";
    worker.paths[ziz::evTempDir] = scratch_;
    worker.ConsiderCandidate(next, L"9.0");
    EXPECT_EQ(nullptr, ziz::StateChoosingBootstrapper::Instance()->Exec(worker));
    std::vector<std::wstring> expected = arguments;
    expected.front() = next;
    expected.push_back(L"/handback=" + ziz::HandBackId());
    EXPECT_EQ(expected, testenv::ParsedBack(RecordedCommandLine(next))) << Narrow(RecordedCommandLine(next));
}

TEST_F(ChoosingBootstrapper, RunningProgramAsBestCandidateIsNotStartedAgain)
{
    for (const wchar_t* mode : {L"/install", L"/update", L"/download", L"/appliance=E:\\"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        worker.paths[ziz::evInitial] = L"C:\\Media\\";
        worker.fileNames[ziz::evInitial] = L"Setup.exe";
        worker.paths[ziz::evTempDir] = scratch_;
        worker.ConsiderCandidate(L"c:\\MEDIA\\setup.EXE", L"5.0.1000.1");
        const std::wstring m = mode;
        ziz::WorkerState* expected = (m == L"/install" || m == L"/update")
                                         ? static_cast<ziz::WorkerState*>(ziz::StateCreatingCompleteSequence::Instance())
                                         : ziz::StateLoadingSequence::Instance();
        EXPECT_EQ(expected, ziz::StateChoosingBootstrapper::Instance()->Exec(worker)) << Narrow(mode);
        EXPECT_TRUE(worker.notifications.empty());
        EXPECT_EQ(-1, log.IndexOf("Could not launch, continuing."));
    }
}

TEST_F(ChoosingBootstrapper, WithoutTheLookupsNothingIsStarted)
{
    for (ziz::PathKind missing : {ziz::evInitial, ziz::evTempDir}) {
        StateWorker worker;
        worker.paths[ziz::evInitial] = L"C:\\Media";
        worker.fileNames[ziz::evInitial] = L"Setup.exe";
        worker.paths[ziz::evTempDir] = scratch_;
        worker.paths.erase(missing);
        worker.ConsiderCandidate(In(L"missing.exe"), L"9.0");
        LogCapture log;
        EXPECT_EQ(ziz::StateCreatingCompleteSequence::Instance(), ziz::StateChoosingBootstrapper::Instance()->Exec(worker));
        EXPECT_EQ(-1, log.IndexOf("Could not launch, continuing."));
    }
}

TEST_F(ChoosingBootstrapper, DownloadedBootstrapperChangedSinceItsCheckIsNotStarted)
{
    // The file started must be the file checked: held from a last check on its handle
    // until its process exists. Changed after the download step's check, it is not started.
    const std::wstring next = MakeDirectory(L"Changed") + L"\\next.exe";
    ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(L"vcredist_x86.exe").c_str(), next.c_str(), FALSE));
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/download"});
    worker.paths[ziz::evInitial] = L"C:\\Media";
    worker.fileNames[ziz::evInitial] = L"Setup.exe";
    worker.paths[ziz::evTempDir] = scratch_;
    InstallItem downloaded;
    downloaded.Filename = L"next.exe";
    downloaded.LocalPath = next;
    downloaded.Hash = testenv::Widen(endtoend::FileMd5(next));
    worker.SetItems({downloaded});
    ASSERT_TRUE(DeleteFileW(next.c_str()));
    ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(L"vcredist_x64.exe").c_str(), next.c_str(), FALSE));

    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StateChoosingBootstrapper::Instance()->Exec(worker));
    EXPECT_EQ(next, worker.BestPath());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Hash comparison failure on file " + Narrow(next)));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Could not launch, continuing."));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((next + L".ran").c_str())) << "the changed file ran";
    EXPECT_TRUE(worker.notifications.empty());
    // Let go again whatever the verdict.
    EXPECT_TRUE(DeleteFileW(next.c_str())) << GetLastError();
}

TEST_F(ChoosingBootstrapper, FailedStartCarriesOn)
{
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/download"});
    worker.paths[ziz::evInitial] = L"C:\\Media";
    worker.fileNames[ziz::evInitial] = L"Setup.exe";
    worker.paths[ziz::evTempDir] = scratch_;
    worker.ConsiderCandidate(In(L"missing.exe"), L"9.0");
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StateChoosingBootstrapper::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Could not launch, continuing."));
    EXPECT_TRUE(worker.notifications.empty());
}

// ---------------------------------------------------------------------------------------
// LoadingSequence

TEST(LoadingSequence, EmbeddedSequenceReplacesTheItems)
{
    StateWorker worker;
    InstallItem stale;
    stale.Filename = L"stale.msi";
    worker.SetItems({stale});
    EXPECT_EQ(ziz::StateProcessingDownloads::Instance(), ziz::StateLoadingSequence::Instance()->Exec(worker));
    const InstallSequence items = worker.Items();
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ(L"norlo5-custom-5.0.1038.10828__PRE.msi", items.front().Filename);
    EXPECT_EQ(L"norlo5-services-x64-5.0.1038.10828.msi", items.back().Filename);
}

TEST(LoadingSequence, SequenceThatCannotBeLoadedFails)
{
    LogCapture log;
    StateWorker worker;
    worker.embeddedSequenceLoads = false;
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateLoadingSequence::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Could not find load sequence"));
}

}  // namespace
