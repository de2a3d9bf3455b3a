// The complete sequence, the copies taken in from installation media, and the preparation
// of an appliance medium.
#include "support/EndToEnd.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/StateFiles.h"
#include "support/StateWorker.h"
#include "support/TestEnvironment.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/MediumRecord.h"
#include "engine/MediumWriter.h"
#include "engine/ResourceFiles.h"
#include "engine/states/StateFailed.h"
#include "osh/FileHash.h"
#include "osh/FileSystem.h"
#include "osh/PathCompare.h"
#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateLoadingSequence.h"
#include "engine/states/StatePerformingLocalCopies.h"
#include "engine/states/StateProcessingDownloads.h"
#include "engine/states/StateUpdatingAppliance.h"
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::LogCapture;
using testsupport::Notification;
using testsupport::ReadTextFile;
using testsupport::StateWorker;
using testsupport::WriteTextFile;
using testenv::Narrow;

std::vector<std::wstring> FileNames(const InstallSequence& items)
{
    std::vector<std::wstring> names;
    for (const InstallItem& item : items) names.push_back(item.Filename);
    return names;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Index of the first line beginning with start at that priority, or -1: for lines that end
// in a system message.
int LineStarting(const LogCapture& log, const std::string& start, Message::Priority priority = Message::PRIO_ERROR)
{
    const std::vector<testsupport::LogLine> lines = log.Lines();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].priority == priority && lines[i].text.compare(0, start.size(), start) == 0) return static_cast<int>(i);
    }
    return -1;
}

// ---------------------------------------------------------------------------------------
// CreatingCompleteSequence

TEST(CreatingCompleteSequence, BothPlatformsThenTheApplianceProgram)
{
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/appliance=E:\\"});
    EXPECT_EQ(ziz::StateProcessingDownloads::Instance(), ziz::StateCreatingCompleteSequence::Instance()->Exec(worker));
    const std::vector<std::wstring> expected = {
        L"norlo5-custom-5.0.1038.10828__PRE.msi", L"vcredist_x86.exe",
        L"norlo5-runtimes-x86-5.0.msi",           L"norlo5-viewer-x86-5.0.1038.10828.msi",
        L"norlo5-services-x86-5.0.1038.10828.msi", L"norlo5-custom-5.0.1038.10828__PRE.msi",
        L"vcredist_x64.exe",                      L"norlo5-runtimes-x64-5.0.msi",
        L"norlo5-viewer-x64-5.0.1038.10828.msi",  L"norlo5-services-x64-5.0.1038.10828.msi",
        L"appliance.exe",
    };
    const InstallSequence items = worker.Items();
    EXPECT_EQ(expected, FileNames(items));
    // Whole items, not just their names: the install command travels along.
    std::wstring command;
    EXPECT_TRUE(std::next(items.begin())->GetProperty(L"installCmd", command));
    EXPECT_EQ(L"[APP] /q", command);
    EXPECT_NE(std::wstring::npos, items.back().Url.find(L"/appliance.exe"));
    EXPECT_FALSE(items.back().GetProperty(L"installCmd", command));
}

TEST(CreatingCompleteSequence, InstallAndUpdateGoOnToTheLocalCopies)
{
    for (const wchar_t* mode : {L"/install", L"/update"}) {
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        EXPECT_EQ(ziz::StatePerformingLocalCopies::Instance(), ziz::StateCreatingCompleteSequence::Instance()->Exec(worker));
        EXPECT_EQ(11u, worker.Items().size());
    }
}

TEST(CreatingCompleteSequence, OtherModesFail)
{
    for (const wchar_t* mode : {L"/download", L"/check", L"/uninstall"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateCreatingCompleteSequence::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in stateCreatingCompleteSequence"));
    }
}

// ---------------------------------------------------------------------------------------
// PerformingLocalCopies

class PerformingLocalCopies : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"statesa-local");
        media_ = scratch_ + L"\\Media";
        setup_ = scratch_ + L"\\SetupFiles";
        CreateDirectoryW(media_.c_str(), nullptr);
        CreateDirectoryW(setup_.c_str(), nullptr);
    }
    void TearDown() override { testenv::RemoveTree(scratch_); }
    void Prepare(StateWorker& worker, const std::vector<std::wstring>& names) const
    {
        worker.paths[ziz::evSetup] = setup_;
        worker.paths[ziz::evInitial] = media_;
        InstallSequence items;
        for (const std::wstring& name : names) {
            InstallItem item;
            item.Filename = name;
            items.push_back(item);
        }
        worker.SetItems(items);
    }
    std::wstring scratch_;
    std::wstring media_;
    std::wstring setup_;
};

TEST_F(PerformingLocalCopies, ComponentsBesideTheProgramAreCopiedAndMissingOnesLogged)
{
    WriteTextFile(media_ + L"\\a.msi", "component a");
    WriteTextFile(media_ + L"\\c.exe", "component c");
    WriteTextFile(setup_ + L"\\c.exe", "older c");
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {L"a.msi", L"b.msi", L"c.exe"});
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_EQ("component a", ReadTextFile(setup_ + L"\\a.msi"));
    EXPECT_EQ("component c", ReadTextFile(setup_ + L"\\c.exe"));
    EXPECT_FALSE(Exists(setup_ + L"\\b.msi"));
    EXPECT_GE(log.IndexOf("b.msi does not exist, not copied."), 0);
    EXPECT_EQ(-1, log.IndexOf("a.msi does not exist, not copied."));
}

TEST_F(PerformingLocalCopies, ProgramStartedFromTheSetupDirectoryCopiesNothing)
{
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/update"});
    Prepare(worker, {L"a.msi"});
    worker.paths[ziz::evInitial] = scratch_ + L"\\SETUPFILES";
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_EQ(-1, log.IndexOf("a.msi does not exist, not copied."));
}

TEST_F(PerformingLocalCopies, FailedCopyIsLoggedAndTheNextItemCopied)
{
    WriteTextFile(media_ + L"\\a.msi", "component a");
    WriteTextFile(media_ + L"\\b.msi", "component b");
    CreateDirectoryW((setup_ + L"\\a.msi").c_str(), nullptr);  // a folder takes no copy
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {L"a.msi", L"b.msi"});
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_GE(log.IndexOf("Unable to copy \"" + Narrow(media_) + "\\a.msi\" to \"" + Narrow(setup_) + "\"."), 0);
    EXPECT_EQ("component b", ReadTextFile(setup_ + L"\\b.msi"));
}

TEST_F(PerformingLocalCopies, OtherModesAndUnknownLocationsFail)
{
    for (const wchar_t* mode : {L"/download", L"/check", L"/uninstall", L"/appliance=E:\\"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        Prepare(worker, {});
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in StatePerformingLocalCopies"));
    }
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {});
    worker.paths.erase(ziz::evInitial);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to determine directory location of executable"));
}

TEST_F(PerformingLocalCopies, UnsafeFileNameFailsWithoutCopyingOutside)
{
    WriteTextFile(media_ + L"\\..\\outside.msi", "beside the media folder");
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {L"..\\outside.msi"});
    worker.paths[ziz::evSetup] = setup_ + L"\\Deeper";
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Install item has an unsafe file name \"..\\outside.msi\""));
    EXPECT_FALSE(Exists(setup_ + L"\\outside.msi"));
}

TEST_F(PerformingLocalCopies, BadCopyBesideTheProgramLeavesTheIntactCachedCopy)
{
    WriteTextFile(setup_ + L"\\a.msi", "component a");
    WriteTextFile(media_ + L"\\a.msi", "component A, damaged on the medium");
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {L"a.msi"});
    InstallSequence items = worker.Items();
    items.front().Hash = osh::CalculateFileHash(setup_ + L"\\a.msi");
    worker.SetItems(items);
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_EQ("component a", ReadTextFile(setup_ + L"\\a.msi"));
    EXPECT_FALSE(Exists(setup_ + L"\\a.msi.local"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Copy of \"" + Narrow(media_) + "\\a.msi\" failed its check, \"" +
                                                        Narrow(setup_) + "\\a.msi\" left as it was."));
    // Judging the copy is not the component's outcome.
    EXPECT_TRUE(worker.Report().Components().empty());

    // A good copy replaces the cached one.
    WriteTextFile(media_ + L"\\a.msi", "component a");
    WriteTextFile(setup_ + L"\\a.msi", "stale");
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_EQ("component a", ReadTextFile(setup_ + L"\\a.msi"));
}

TEST_F(PerformingLocalCopies, MediumWithoutItsRecordOrWithOtherFilesIsReportedIncomplete)
{
    WriteTextFile(media_ + L"\\a.msi", "component a");
    {
        LogCapture log;
        StateWorker worker;
        Prepare(worker, {L"a.msi"});
        EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "medium incomplete: no record medium.xml beside the components"));
        EXPECT_EQ("component a", ReadTextFile(setup_ + L"\\a.msi"));
    }
    ziz::MediumRecord record;
    record.BootstrapperVersion = L"5.0.1.2";
    record.Written = "2026-12-09T10:00:00Z";
    ziz::MediumFile file;
    file.Name = L"a.msi";
    file.HasSize = true;
    file.Size = 11;  // "component a"
    record.Files = {file};
    const struct {
        std::string text;
        std::string line;
        bool complete;
    } cases[] = {
        {ziz::FormatMediumRecord(record), "Medium complete: 1 files as recorded 2026-12-09T10:00:00Z by Setup 5.0.1.2", true},
        {"<medium format=\"1\"", "medium incomplete: its record medium.xml is unreadable: ", false},
    };
    for (const auto& c : cases) {
        WriteTextFile(media_ + L"\\medium.xml", c.text);
        LogCapture log;
        StateWorker worker;
        Prepare(worker, {L"a.msi"});
        EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
        EXPECT_GE(LineStarting(log, c.line, c.complete ? Message::PRIO_INFORMATION : Message::PRIO_WARNING), 0) << c.line;
    }
    record.Files.front().Size = 12;
    WriteTextFile(media_ + L"\\medium.xml", ziz::FormatMediumRecord(record));
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {L"a.msi"});
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "medium incomplete: a.msi has 11 bytes, the record says 12"));
    // Components that meet the sequence are still taken in, as without a record.
    EXPECT_EQ("component a", ReadTextFile(setup_ + L"\\a.msi"));
}

TEST_F(PerformingLocalCopies, FolderWithoutComponentsIsNoMedium)
{
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {L"a.msi"});
    EXPECT_EQ(ziz::StateLoadingSequence::Instance(), ziz::StatePerformingLocalCopies::Instance()->Exec(worker));
    EXPECT_EQ(-1, log.IndexOf("medium incomplete"));
}

// ---------------------------------------------------------------------------------------
// UpdatingAppliance

InstallItem EmbeddedAppliance()
{
    Blob blob;
    ReadResourceBlob(300, blob);
    InstallItem appliance;
    EXPECT_TRUE(LoadApplianceItem(blob, appliance));
    return appliance;
}

class UpdatingAppliance : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"statesa-appliance");
        for (const wchar_t* folder : {L"\\Medium", L"\\Data", L"\\Data\\SetupFiles", L"\\Program", L"\\Temp", L"\\Media"}) {
            CreateDirectoryW((scratch_ + folder).c_str(), nullptr);
        }
        target_ = scratch_ + L"\\Medium";
        setupFiles_ = target_ + L"\\Norlo\\SetupFiles";
        WriteTextFile(In(L"Media\\Setup.exe"), "the running bootstrapper");
        WriteTextFile(In(L"Data\\SetupFiles\\first.msi"), "first");
        WriteTextFile(In(L"Data\\SetupFiles\\second.exe"), "second");
        program_ = In(L"Data\\SetupFiles\\appliance.exe");
        ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(L"appliance.exe").c_str(), program_.c_str(), FALSE));
        WriteScript(0);
    }
    void TearDown() override { testenv::RemoveTree(scratch_); }
    std::wstring In(const std::wstring& name) const { return scratch_ + L"\\" + name; }

    // A copy script that records its arguments and working directory, then exits with code.
    void WriteScript(int code) const
    {
        WriteTextFile(In(L"Temp\\copy script.cmd"),
                      "@echo off\r\necho %1 %2 %3>\"" + Narrow(In(L"script-arguments.txt")) + "\"\r\ncd>\"" +
                          Narrow(In(L"script-directory.txt")) + "\"\r\nexit /b " + std::to_string(code) + "\r\n");
    }
    InstallItem Component(const std::wstring& name) const
    {
        InstallItem item;
        item.Filename = name;
        item.Url = L"http://127.0.0.1/" + name;
        item.LocalPath = In(L"Data\\SetupFiles\\" + name);
        return item;
    }
    void Prepare(StateWorker& worker, const InstallSequence& items) const
    {
        worker.paths[ziz::evInitial] = In(L"Media");
        worker.fileNames[ziz::evInitial] = L"Setup.exe";
        worker.fileNames[ziz::evSetup] = L"Setup.exe";
        worker.paths[ziz::evSetup] = In(L"Data\\SetupFiles");
        worker.paths[ziz::evInstall] = In(L"Program");
        worker.paths[ziz::evTempDir] = In(L"Temp");
        worker.applianceScript = In(L"Temp\\copy script.cmd");
        worker.SetItems(items);
    }
    InstallSequence StandardItems() const
    {
        InstallItem appliance = EmbeddedAppliance();
        appliance.LocalPath = program_;
        return {Component(L"first.msi"), appliance, Component(L"second.exe")};
    }
    StateWorker ApplianceWorker() const { return StateWorker({L"C:\\Media\\Setup.exe", L"/appliance=" + target_}); }

    std::wstring scratch_;
    std::wstring target_;
    std::wstring setupFiles_;
    std::wstring program_;
};

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }

// The copy of the appliance program the run started, as its log line names it: the run's
// own, never the one in the setup files.
std::wstring StartedApplianceCopy(const LogCapture& log)
{
    const std::string prefix = "Executing command: \"";
    const std::string suffix = "\\appliance.exe\" -y ";
    for (const auto& line : log.Lines()) {
        if (line.text.rfind(prefix, 0) != 0 || line.text.size() < prefix.size() + suffix.size() ||
            line.text.compare(line.text.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        return testenv::Widen(line.text.substr(prefix.size(), line.text.size() - prefix.size() - 2 - 3));
    }
    return std::wstring();
}

TEST_F(UpdatingAppliance, PreparesTheMediumRunsTheApplianceProgramAndTheCopyScript)
{
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(worker))
        << (log.Lines().empty() ? std::string() : log.Lines().back().text);
    // The window counts the files written to the medium, then the outcome.
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusInstalling, 0, 3},
                                         {ziz::StatusInstalling, 1, 3},
                                         {ziz::StatusInstalling, 2, 3},
                                         {ziz::StatusSucceeded, 0, 0}}),
              worker.notifications);

    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(hiddenSystem, Attributes(target_ + L"\\Norlo") & hiddenSystem);
    EXPECT_EQ(hiddenSystem, Attributes(setupFiles_) & hiddenSystem);
    EXPECT_EQ("first", ReadTextFile(setupFiles_ + L"\\first.msi"));
    EXPECT_EQ("second", ReadTextFile(setupFiles_ + L"\\second.exe"));
    EXPECT_EQ("the running bootstrapper", ReadTextFile(setupFiles_ + L"\\Setup.exe"));
    EXPECT_FALSE(Exists(setupFiles_ + L"\\appliance.exe"));

    // The appliance program ran with "-y" in the target, from a held copy in the run's
    // admin-only folder: nothing planted beside it in the setup files is loaded.
    const std::wstring copy = StartedApplianceCopy(log);
    EXPECT_TRUE(osh::IsPathInside(copy, ziz::ElevatedWorkFolder())) << Narrow(copy);
    EXPECT_EQ("command line: \"" + Narrow(copy) + "\" -y \r\ndirectory: " + Narrow(target_) + "\r\n",
              ReadTextFile(copy + L".ran"));
    EXPECT_FALSE(Exists(program_ + L".ran"));
    // The copy script: target, data directory and installation directory, in the system
    // folder (the script runs elevated; the temporary directory is the user's to change).
    EXPECT_EQ("\"" + Narrow(target_) + "\\\" \"" + Narrow(In(L"Data")) + "\\\" \"" + Narrow(In(L"Program")) + "\\\"\r\n",
              ReadTextFile(In(L"script-arguments.txt")));
    wchar_t system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(systemLength, 0u);
    EXPECT_EQ(Narrow(std::wstring(system, systemLength)) + "\r\n", ReadTextFile(In(L"script-directory.txt")));

    const int program = log.IndexOf("Executing command: \"" + Narrow(copy) + "\" -y ");
    const int script = log.IndexOf("Executing command: \"" + Narrow(In(L"Temp\\copy script.cmd")) + "\" \"" +
                                   Narrow(target_) + "\\\" \"" + Narrow(In(L"Data")) + "\\\" \"" +
                                   Narrow(In(L"Program")) + "\\\" ");
    EXPECT_GE(program, 0);
    EXPECT_GT(script, program);
}

// A worker that lets another user act while the run fetches its copy script: after the
// medium was opened, written and checked, and before anything is started there.
class SwappingWorker : public StateWorker {
public:
    using StateWorker::StateWorker;
    std::function<void()> beforeScript;
    std::wstring GetApplianceScriptPath() override
    {
        if (beforeScript) beforeScript();
        return applianceScript;
    }
};

// The real copy script once marked "<target>\norlo" hidden and system by path. Here the
// target is moved away and a link to another folder (one with a "Norlo" in it) put in its
// place just before the script runs: the script is not started, and nothing where the link
// leads is made, changed or removed.
TEST_F(UpdatingAppliance, ATargetSwappedForALinkBeforeTheCopyScriptRedirectsNothing)
{
    const std::wstring script = In(L"Temp\\appcopy.cmd");
    ziz::WriteResourceBytes(302, script);
    const testsupport::CanaryFolder outside(L"statesa-outside");
    const std::wstring theirs = outside.folder + L"\\Norlo";
    ASSERT_TRUE(CreateDirectoryW(theirs.c_str(), nullptr));
    const DWORD before = Attributes(theirs);
    std::unique_ptr<testsupport::FolderLink> link;
    SwappingWorker worker({L"C:\\Media\\Setup.exe", L"/appliance=" + target_});
    Prepare(worker, StandardItems());
    worker.applianceScript = script;
    worker.beforeScript = [&] {
        ASSERT_TRUE(MoveFileW(target_.c_str(), In(L"Moved").c_str()));
        link = std::make_unique<testsupport::FolderLink>(target_, outside.folder);
    };
    LogCapture log;

    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));

    ASSERT_TRUE(link) << "the script was fetched";
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, Narrow(target_) + " is a link"));
    EXPECT_EQ(-1, LineStarting(log, "Executing command: \"" + Narrow(script), Message::PRIO_INFORMATION));
    EXPECT_EQ(before, Attributes(theirs)) << "not marked hidden and system";
    EXPECT_TRUE(outside.Intact());
    std::vector<std::wstring> files, folders;
    osh::ListDirectory(outside.folder, files, folders);
    EXPECT_EQ(std::vector<std::wstring>{L"canary.txt"}, files);
    EXPECT_EQ(std::vector<std::wstring>{L"Norlo"}, folders);
    // The program ran before the swap, in the medium itself; the moved medium has no record.
    EXPECT_NE(L"", StartedApplianceCopy(log));
    EXPECT_FALSE(Exists(In(L"Moved\\Norlo\\SetupFiles\\medium.xml")));
    EXPECT_NE(ziz::StatusSucceeded, worker.GetLastStatus());
}

TEST_F(UpdatingAppliance, FilesOfAnEarlierPreparationNoLongerInTheSetAreRemoved)
{
    CreateDirectoryW((target_ + L"\\Norlo").c_str(), nullptr);
    CreateDirectoryW(setupFiles_.c_str(), nullptr);
    CreateDirectoryW((setupFiles_ + L"\\keep folder").c_str(), nullptr);
    WriteTextFile(setupFiles_ + L"\\old-services.msi", "from an earlier release");
    WriteTextFile(setupFiles_ + L"\\FIRST.MSI", "older first");
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_FALSE(Exists(setupFiles_ + L"\\old-services.msi"));
    EXPECT_EQ("first", ReadTextFile(setupFiles_ + L"\\first.msi"));
    EXPECT_TRUE(Exists(setupFiles_ + L"\\keep folder"));
    EXPECT_TRUE(Exists(setupFiles_ + L"\\Setup.exe"));
}

// The appliance program in the setup files, which any user can change, is replaced after the
// downloads checked it: its held copy fails the check and nothing runs.
TEST_F(UpdatingAppliance, AnApplianceProgramChangedAfterItsCheckIsNotRun)
{
    ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(L"vcredist_x86.exe").c_str(), program_.c_str(), FALSE));
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_EQ(L"", StartedApplianceCopy(log)) << "not started";
    EXPECT_EQ(-1, LineStarting(log, "Executing command: ", Message::PRIO_INFORMATION));
    EXPECT_GE(LineStarting(log, "The appliance program "), 0);
    EXPECT_FALSE(Exists(program_ + L".ran"));
    EXPECT_FALSE(Exists(In(L"script-arguments.txt")));
    EXPECT_FALSE(Exists(setupFiles_ + L"\\medium.xml")) << "no record for a medium whose preparation failed";
    EXPECT_NE(ziz::StatusSucceeded, worker.GetLastStatus());
}

TEST_F(UpdatingAppliance, FailingCopyScriptFailsTheRunAndKeepsOlderFiles)
{
    WriteScript(3);
    CreateDirectoryW((target_ + L"\\Norlo").c_str(), nullptr);
    CreateDirectoryW(setupFiles_.c_str(), nullptr);
    WriteTextFile(setupFiles_ + L"\\old-services.msi", "from an earlier release");
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    const int exit = log.IndexOf("Command failed, exit status: 3");
    const int failed = log.IndexOf("Appliance copy script failed");
    EXPECT_GE(exit, 0);
    EXPECT_GT(failed, exit);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Appliance copy script failed"));
    EXPECT_TRUE(Exists(setupFiles_ + L"\\old-services.msi"));
    EXPECT_NE(ziz::StatusSucceeded, worker.GetLastStatus());
}

TEST_F(UpdatingAppliance, ComponentThatCannotBeCopiedFailsTheRunAndDeletesNothing)
{
    CreateDirectoryW((target_ + L"\\Norlo").c_str(), nullptr);
    CreateDirectoryW(setupFiles_.c_str(), nullptr);
    WriteTextFile(setupFiles_ + L"\\old-services.msi", "from an earlier release");
    WriteTextFile(setupFiles_ + L"\\second.exe", "older second");
    InstallSequence items = StandardItems();
    items.front().LocalPath = In(L"Data\\SetupFiles\\missing.msi");
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, items);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Could not copy \"" + Narrow(In(L"Data\\SetupFiles\\missing.msi")) +
                                                      "\" to \"" + Narrow(setupFiles_) + "\\first.msi\""));
    EXPECT_TRUE(Exists(setupFiles_ + L"\\old-services.msi"));
    EXPECT_EQ("older second", ReadTextFile(setupFiles_ + L"\\second.exe"));
    EXPECT_FALSE(Exists(program_ + L".ran"));
    EXPECT_FALSE(Exists(In(L"script-arguments.txt")));
    EXPECT_TRUE(worker.notifications.empty());
}

TEST_F(UpdatingAppliance, UnsafeComponentNameFailsTheRun)
{
    InstallSequence items = StandardItems();
    items.back().Filename = L"..\\..\\escaped.exe";
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, items);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Install item has an unsafe file name \"..\\..\\escaped.exe\""));
    EXPECT_FALSE(Exists(target_ + L"\\escaped.exe"));
}

TEST_F(UpdatingAppliance, WithoutATargetNothingIsAssembled)
{
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/appliance"});
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "No appliance target given"));
    EXPECT_FALSE(Exists(program_ + L".ran"));
}

TEST_F(UpdatingAppliance, WithoutTheDownloadedApplianceProgramTheRunFails)
{
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, {Component(L"first.msi")});
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_GE(LineStarting(log, "Could not copy the appliance program to "), 0);
    EXPECT_EQ(-1, LineStarting(log, "Executing command: ", Message::PRIO_INFORMATION));
    EXPECT_FALSE(Exists(In(L"script-arguments.txt")));
}

// ---------------------------------------------------------------------------------------
// UpdatingAppliance: a medium known to be complete

ziz::MediumRecord RecordOn(const std::wstring& setupFiles)
{
    ziz::MediumRecord record;
    std::string problem;
    EXPECT_TRUE(ziz::ReadMediumRecord(setupFiles, record, problem)) << problem;
    return record;
}

// Seams: what happens to a file between its write and its read-back.
std::wstring g_damaged;
void DamageSecondExe(const std::wstring& written)
{
    if (written.find(L"second.exe") == std::wstring::npos) return;
    g_damaged = written;
    WriteTextFile(written, "secoNd");  // same size, other bytes: a stick that returns garbage
}
std::wstring g_pulledOut;
void PullOutAtSecondExe(const std::wstring& written)
{
    if (written.find(L"second.exe") == std::wstring::npos) return;
    testenv::RemoveTree(g_pulledOut);
}
BOOL WINAPI Fat32Volume(LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD flags, LPWSTR fileSystem, DWORD size)
{
    if (flags) *flags = 0;
    wcsncpy(fileSystem, L"FAT32", size);
    return TRUE;
}

class MediumSeams {
public:
    ~MediumSeams()
    {
        ziz::SetMediumWrittenHook(nullptr);
        ziz::SetVolumeInformationFunction(nullptr);
    }
};

TEST_F(UpdatingAppliance, RecordWrittenLastNamesEveryFileWithItsDigests)
{
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    const ziz::MediumRecord record = RecordOn(setupFiles_);
    ASSERT_EQ(3u, record.Files.size());
    const std::vector<std::wstring> names = {L"first.msi", L"second.exe", L"Setup.exe"};
    for (size_t i = 0; i < names.size(); ++i) {
        const osh::FileDigests digests = osh::CalculateFileDigests(setupFiles_ + L"\\" + names[i]);
        EXPECT_EQ(names[i], record.Files[i].Name);
        EXPECT_EQ(digests.Bytes, record.Files[i].Size);
        EXPECT_EQ(digests.Md5, record.Files[i].Md5);
        EXPECT_EQ(digests.Sha256, record.Files[i].Sha256);
        EXPECT_GE(log.IndexOf("Copied to the medium: " + Narrow(names[i]) + " (" + std::to_string(digests.Bytes) +
                              " bytes, read back intact)"), 0);
    }
    EXPECT_EQ(20u, record.Written.size()) << record.Written;  // 2026-12-09T10:35:00Z
    EXPECT_FALSE(Exists(setupFiles_ + L"\\medium.xml.new"));
    EXPECT_FALSE(Exists(setupFiles_ + L"\\first.msi.new"));
    // After the copy script: a script that fails leaves no record (see below).
    const int script = LineStarting(log, "Executing command: \"" + Narrow(In(L"Temp\\copy script.cmd")), Message::PRIO_INFORMATION);
    EXPECT_GE(script, 0);
    EXPECT_GT(log.IndexOf("Medium complete: " + Narrow(setupFiles_) + "\\medium.xml written"), script);
}

TEST_F(UpdatingAppliance, RefreshCopiesOnlyWhatChangedAndKeepsTheRest)
{
    StateWorker first = ApplianceWorker();
    Prepare(first, StandardItems());
    ASSERT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(first));
    WriteTextFile(In(L"Data\\SetupFiles\\first.msi"), "first, release two");
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_GE(log.IndexOf("Copied to the medium: first.msi (18 bytes, read back intact)"), 0);
    EXPECT_GE(log.IndexOf("Kept on the medium: second.exe (6 bytes, intact)"), 0);
    EXPECT_GE(log.IndexOf("Kept on the medium: Setup.exe (24 bytes, intact)"), 0);
    EXPECT_EQ(-1, log.IndexOf("Copied to the medium: second.exe"));
    EXPECT_EQ("first, release two", ReadTextFile(setupFiles_ + L"\\first.msi"));
    EXPECT_EQ(18u, RecordOn(setupFiles_).Files.front().Size);

    // A file changed on the medium behind the record's back, with its size, is found by
    // its digests once the record no longer vouches for it.
    WriteTextFile(setupFiles_ + L"\\second.exe", "SECOND");
    DeleteFileW((setupFiles_ + L"\\medium.xml").c_str());
    LogCapture again;
    StateWorker third = ApplianceWorker();
    Prepare(third, StandardItems());
    EXPECT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(third));
    EXPECT_GE(again.IndexOf("Copied to the medium: second.exe (6 bytes, read back intact)"), 0);
    EXPECT_GE(again.IndexOf("Kept on the medium: first.msi (18 bytes, intact)"), 0);
    EXPECT_EQ("second", ReadTextFile(setupFiles_ + L"\\second.exe"));
}

TEST_F(UpdatingAppliance, FileDamagedOnTheMediumFailsTheRunAndKeepsWhatWasThere)
{
    StateWorker first = ApplianceWorker();
    Prepare(first, StandardItems());
    ASSERT_EQ(nullptr, ziz::StateUpdatingAppliance::Instance()->Exec(first));
    ASSERT_FALSE(Exists(program_ + L".ran")) << "the held copy ran, not the setup files' file";
    WriteTextFile(setupFiles_ + L"\\old-services.msi", "from an earlier release");
    WriteTextFile(setupFiles_ + L"\\second.exe", "older second");
    MediumSeams seams;
    ziz::SetMediumWrittenHook(&DamageSecondExe);
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Read-back of \"" + Narrow(setupFiles_) +
                                                      "\\second.exe\" from the medium failed: md5"));
    EXPECT_EQ(setupFiles_ + L"\\second.exe.new", g_damaged);
    EXPECT_FALSE(Exists(g_damaged));
    EXPECT_EQ("older second", ReadTextFile(setupFiles_ + L"\\second.exe"));
    EXPECT_TRUE(Exists(setupFiles_ + L"\\old-services.msi"));
    // The record of the earlier preparation went first: the medium is not complete.
    EXPECT_FALSE(Exists(setupFiles_ + L"\\medium.xml"));
    EXPECT_FALSE(Exists(program_ + L".ran"));
}

TEST_F(UpdatingAppliance, MediumPulledOutHalfWayNeverGetsItsRecord)
{
    MediumSeams seams;
    g_pulledOut = target_ + L"\\Norlo";
    ziz::SetMediumWrittenHook(&PullOutAtSecondExe);
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_GE(LineStarting(log, "Read-back of \"" + Narrow(setupFiles_) + "\\second.exe\" from the medium failed: "), 0)
        << (log.Lines().empty() ? "" : log.Lines().back().text);
    EXPECT_GE(log.IndexOf("Appliance medium is missing components, preparation failed"), 0);
    // Put back, the medium shows what it lacks: no record.
    EXPECT_FALSE(Exists(setupFiles_ + L"\\medium.xml"));
    EXPECT_FALSE(Exists(setupFiles_ + L"\\medium.xml.new"));
    EXPECT_FALSE(Exists(program_ + L".ran"));
}

TEST_F(UpdatingAppliance, FileTooLargeForTheMediumsFileSystemFailsBeforeAnythingIsWritten)
{
    MediumSeams seams;
    ziz::SetVolumeInformationFunction(&Fat32Volume);
    InstallSequence items = StandardItems();
    items.front().Hash = osh::CalculateFileHash(items.front().LocalPath);
    items.front().Size = L"4294967296";
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, items);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "The medium " + Narrow(target_) + " (FAT32) cannot hold first.msi: "
                                                  "4294967296 bytes needed, at most 4294967295 bytes per file"));
    EXPECT_FALSE(Exists(target_ + L"\\Norlo"));
    EXPECT_TRUE(worker.notifications.empty());

    // Just under the limit the size rule lets it through (and the read-back then finds
    // the file is not what the item promises).
    items.front().Size = L"4294967295";
    StateWorker under = ApplianceWorker();
    Prepare(under, items);
    LogCapture again;
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(under));
    EXPECT_EQ(-1, again.IndexOf("cannot hold"));
}

TEST_F(UpdatingAppliance, MissingTargetFailsAndCreatesNothing)
{
    testenv::RemoveTree(target_);
    LogCapture log;
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Appliance target " + Narrow(target_) + " is not a folder"));
    EXPECT_FALSE(Exists(target_));
}

TEST_F(UpdatingAppliance, FailingCopyScriptLeavesNoRecord)
{
    WriteScript(3);
    StateWorker worker = ApplianceWorker();
    Prepare(worker, StandardItems());
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateUpdatingAppliance::Instance()->Exec(worker));
    EXPECT_TRUE(Exists(setupFiles_ + L"\\first.msi"));
    EXPECT_FALSE(Exists(setupFiles_ + L"\\medium.xml"));
}

}  // namespace
