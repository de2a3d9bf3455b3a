// The two states that end a successful run, against the real registry and files: the
// bootstrapper copied into the setup-files directory (or moved at restart), the values
// recorded in the key store, the namespace-extension launcher of the viewer install, and
// the install remnants deleted at uninstall together with their entries.
#include "engine/SetupFilesCache.h"
#include "engine/states/StateFinishingInstall.h"
#include "engine/states/StateFinishingUninstall.h"
#include "osh/PersistentStore.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/StateTestFiles.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using statetest::Exists;
using statetest::PlaceStandIn;
using statetest::RecordedLines;
using testenv::Narrow;

// A test engine that also knows an update address and file versions.
class FinishingWorker : public statetest::RecordingWorker {
public:
    std::wstring updateUrl;
    std::wstring version;
    bool overrideType = false;
    ziz::InstallType type = ziz::InstallTypeServices;

    bool GetUpdateUrl(std::wstring& url) override
    {
        url = updateUrl;
        return !url.empty();
    }
    bool GetFileVersion(std::wstring& out, const std::wstring& path) override
    {
        out = statetest::Exists(path) ? version : std::wstring();
        return !out.empty();
    }
    ziz::InstallType GetInstallType() override { return overrideType ? type : Worker::GetInstallType(); }
};

std::wstring StoredSetupValue(const wchar_t* name)
{
    std::wstring value;
    if (!testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Setup", name, value)) return L"<missing>";
    return value;
}

std::string FileBytes(const std::wstring& path)
{
    std::string text;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return text;
    char buffer[4096];
    for (size_t read; (read = fread(buffer, 1, sizeof(buffer), file)) > 0;) text.append(buffer, read);
    fclose(file);
    return text;
}

class FinishingInstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* name : {L"xmlurl", L"LastVer", L"LastFile", L"LastInstallType"}) {
            saved.push_back(std::make_unique<testsupport::SavedStoreValue>(L"Setup", name));
            testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", name);
        }
        scratch = testenv::MakeScratchDirectory(L"finish");
        runDir = scratch + L"\\run dir";
        setupDir = scratch + L"\\data\\Norlo 5\\SetupFiles";
        installDir = scratch + L"\\Program Files\\Norlo 5";
        PlaceStandIn(runDir + L"\\norlo5-Setup-5.0.exe");
        worker.paths[ziz::evInitial] = runDir;
        worker.paths[ziz::evSetup] = setupDir;
        worker.paths[ziz::evInstall] = installDir;
        worker.fileNames[ziz::evInitial] = L"norlo5-Setup-5.0.exe";
        worker.fileNames[ziz::evSetup] = L"Setup.exe";
        worker.updateUrl = L"http://127.0.0.1:9/5.0/update.xml";
        worker.version = L"5.0.1038.10828";
    }
    void TearDown() override
    {
        saved.clear();
        testenv::RemoveTree(scratch);
    }

    std::vector<std::unique_ptr<testsupport::SavedStoreValue>> saved;
    std::wstring scratch, runDir, setupDir, installDir;
    FinishingWorker worker;
    testsupport::LogCapture log;
};

TEST_F(FinishingInstall, PlacesTheBootstrapperAndRecordsTheRun)
{
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);

    const std::wstring source = runDir + L"\\norlo5-Setup-5.0.exe";
    const std::wstring target = setupDir + L"\\Setup.exe";
    ASSERT_TRUE(Exists(target));
    EXPECT_EQ(FileBytes(target), FileBytes(source));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, Narrow(source) + " was copied to " + Narrow(target)));
    EXPECT_EQ(StoredSetupValue(L"xmlurl"), L"http://127.0.0.1:9/5.0/update.xml");
    EXPECT_EQ(StoredSetupValue(L"LastVer"), L"5.0.1038.10828");
    EXPECT_EQ(StoredSetupValue(L"LastFile"), L"norlo5-Setup-5.0.exe");
    EXPECT_EQ(StoredSetupValue(L"LastInstallType"), L"services");
    ASSERT_EQ(worker.notifications.size(), 2u);
    EXPECT_EQ(worker.notifications.front().status, ziz::StatusCompleting);
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusSucceeded);
}

TEST_F(FinishingInstall, RunningFromTheSetupCopyCopiesNothingButStillRecords)
{
    worker.paths[ziz::evInitial] = setupDir;
    worker.fileNames[ziz::evInitial] = L"SETUP.EXE";
    PlaceStandIn(setupDir + L"\\Setup.exe");
    worker.updateUrl.clear();
    worker.overrideType = true;
    worker.type = static_cast<ziz::InstallType>(7);
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    for (const auto& line : log.Lines()) EXPECT_EQ(line.text.find(" was copied to "), std::string::npos) << line.text;
    EXPECT_EQ(log.IndexOf("File not copied, will be moved at reboot"), -1);
    EXPECT_EQ(StoredSetupValue(L"xmlurl"), L"<missing>");
    EXPECT_EQ(StoredSetupValue(L"LastVer"), L"5.0.1038.10828");
    EXPECT_EQ(StoredSetupValue(L"LastFile"), L"SETUP.EXE");
    EXPECT_EQ(StoredSetupValue(L"LastInstallType"), L"unknown");
}

TEST_F(FinishingInstall, AFailedLookupSkipsTheCopyAndTheRecords)
{
    worker.fileNames.erase(ziz::evSetup);
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    EXPECT_FALSE(Exists(setupDir + L"\\Setup.exe"));
    EXPECT_EQ(StoredSetupValue(L"xmlurl"), L"http://127.0.0.1:9/5.0/update.xml");
    EXPECT_EQ(StoredSetupValue(L"LastFile"), L"<missing>");
    EXPECT_EQ(StoredSetupValue(L"LastInstallType"), L"<missing>");
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusSucceeded);
}

TEST_F(FinishingInstall, ViewerInstallStartsTheNamespaceExtensionLauncher)
{
    PlaceStandIn(installDir + L"\\OpenSkiv.exe");
    worker.ParseArguments({L"/install", L"/viewer"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    EXPECT_EQ(RecordedLines(installDir + L"\\OpenSkiv.exe"), std::vector<std::string>{""});
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Launched namespace extension."));
    EXPECT_EQ(StoredSetupValue(L"LastInstallType"), L"viewer");
}

TEST_F(FinishingInstall, WithoutTheViewerSwitchTheLauncherNeverRuns)
{
    PlaceStandIn(installDir + L"\\OpenSkiv.exe");
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    EXPECT_TRUE(RecordedLines(installDir + L"\\OpenSkiv.exe").empty());
    EXPECT_EQ(log.IndexOf("Launched namespace extension."), -1);
}

TEST_F(FinishingInstall, AMissingLauncherIsLoggedAndTheRunStillSucceeds)
{
    worker.ParseArguments({L"/install", L"/viewer"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    const int failure = log.IndexOf("Could not launch openSkiv.");
    ASSERT_GT(failure, 0);
    const auto lines = log.Lines();
    EXPECT_EQ(lines[failure].priority, Message::PRIO_ERROR);
    EXPECT_EQ(lines[failure - 1].text.rfind("CreateProcess(\"\"" + Narrow(installDir) + "\\OpenSkiv.exe\"\")", 0), 0u)
        << lines[failure - 1].text;
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusSucceeded);
}

// The move at restart is a registry entry of the session manager; the test puts it back.
class PendingRenames {
public:
    PendingRenames() { present_ = Read(saved_); }
    ~PendingRenames()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
        if (present_)
            RegSetValueExW(key, kValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(saved_.data()),
                           static_cast<DWORD>(saved_.size() * sizeof(wchar_t)));
        else
            RegDeleteValueW(key, kValue);
        RegCloseKey(key);
    }
    static bool Read(std::wstring& out)
    {
        out.clear();
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, kValue, nullptr, nullptr, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            out.assign(size / sizeof(wchar_t), L'\0');
            status = RegQueryValueExW(key, kValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&out[0]), &size);
        }
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }

private:
    static constexpr const wchar_t* kKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    static constexpr const wchar_t* kValue = L"PendingFileRenameOperations";
    bool present_ = false;
    std::wstring saved_;
};

// A move at the next restart would act on the path then, after any user could have made the
// folder a link: a copy that fails is only logged.
TEST_F(FinishingInstall, ACopyThatFailsIsLoggedAndNothingWaitsForARestart)
{
    PendingRenames restore;
    // A folder in the target's place makes the copy fail.
    statetest::MakeFolders(setupDir + L"\\Setup.exe");
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING,
                             "File not copied, later runs start the earlier " + Narrow(setupDir) + "\\Setup.exe"));
    EXPECT_EQ(log.IndexOf("File not copied, will be moved at reboot"), -1);
    std::wstring pending;
    if (PendingRenames::Read(pending)) {
        EXPECT_EQ(pending.find(setupDir + L"\\Setup.exe"), std::wstring::npos);
    }
    EXPECT_TRUE(Exists(setupDir + L"\\Setup.exe"));
    EXPECT_FALSE(Exists(setupDir + L"\\Setup.exe.new"));
    EXPECT_EQ(StoredSetupValue(L"LastFile"), L"norlo5-Setup-5.0.exe");
}

// The setup files replaced by a link: Setup.exe goes nowhere, the run still finishes.
TEST_F(FinishingInstall, ASetupFilesLinkGetsNoCopy)
{
    const testsupport::CanaryFolder outside(L"finishing-setup-link");
    statetest::MakeFolders(setupDir);
    RemoveDirectoryW(setupDir.c_str());
    const testsupport::FolderLink link(setupDir, outside.folder);
    ziz::ForgetSetupFilesRefusal();
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);
    EXPECT_TRUE(outside.Intact());
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Refusing the setup files folder " + Narrow(setupDir) + ": " +
                                                        Narrow(setupDir) + " is a link; nothing is cached there"));
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusSucceeded);
}

TEST_F(FinishingInstall, ASetupExeThatACallerRunsFromIsReplacedWithoutARestart)
{
    PendingRenames restore;
    // The caller that handed over to this run waits, running from the setup copy; its
    // bytes differ from the new bootstrapper's.
    const std::wstring target = setupDir + L"\\Setup.exe";
    PlaceStandIn(target);
    {
        FILE* file = _wfopen(target.c_str(), L"ab");
        ASSERT_NE(file, nullptr);
        fputs("older caller", file);
        fclose(file);
    }
    statetest::WindowedStandIn caller(target, L"Waiting caller");
    ASSERT_TRUE(caller.Ready());
    worker.ParseArguments({L"/install"});
    EXPECT_EQ(ziz::StateFinishingInstall::Instance()->Exec(worker), nullptr);

    EXPECT_EQ(FileBytes(target), FileBytes(runDir + L"\\norlo5-Setup-5.0.exe"));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, Narrow(runDir) + "\\norlo5-Setup-5.0.exe was copied to " +
                                                            Narrow(target)));
    EXPECT_EQ(log.IndexOf("File not copied, will be moved at reboot"), -1);
    EXPECT_FALSE(caller.WaitForExit(0));  // never ended, still running from the old bytes
    // The old bytes moved aside are gone, stay while they still run (Windows refuses to
    // delete a running image: logged), or go with their last user (Wine deletes on close).
    const std::wstring aside = target + L"." + std::to_wstring(GetCurrentProcessId()) + L".old";
    const int stays = log.IndexOf(Narrow(aside) + " is still in use and stays");
    if (stays >= 0) {
        EXPECT_TRUE(Exists(aside));
        EXPECT_EQ(log.Lines()[static_cast<size_t>(stays)].priority, Message::PRIO_INFORMATION);
    }
    std::wstring pending;
    if (PendingRenames::Read(pending)) {
        EXPECT_EQ(pending.find(aside), std::wstring::npos) << "nothing waits for a restart";
    }
}

// --- Finishing an uninstall ---------------------------------------------------------------

class FinishingUninstall : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch = testenv::MakeScratchDirectory(L"remnants");
        Clean();
    }
    void TearDown() override
    {
        Clean();
        testenv::RemoveTree(scratch);
    }
    void Clean()
    {
        for (const wchar_t* name : kNames) {
            testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Install-Files", name);
            testsupport::DeleteStoreValue(HKEY_CURRENT_USER, L"Install-Files", name);
        }
    }
    static bool Registered(const std::wstring& name)
    {
        std::wstring value;
        return testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Install-Files", name, value);
    }

    static constexpr const wchar_t* kNames[] = {L"payload.txt", L"payload.txt.state", L"busy.dat", L"7"};
    std::wstring scratch;
    statetest::RecordingWorker worker;
    testsupport::LogCapture log;
};

TEST_F(FinishingUninstall, DeletesEveryRegisteredRemnantAndItsEntry)
{
    const std::wstring payload = scratch + L"\\Norlo 5\\payload.txt";
    const std::wstring numbered = scratch + L"\\Norlo 5\\numbered.txt";
    const std::wstring busy = scratch + L"\\Norlo 5\\busy.dat";
    statetest::WriteTextFile(payload, "p");
    statetest::WriteTextFile(numbered, "n");
    statetest::WriteTextFile(busy, "b");
    osh::SetPersistentValue(L"Install-Files", L"payload.txt", payload);
    // Already gone: passed over silently.
    osh::SetPersistentValue(L"Install-Files", L"payload.txt.state", payload + L".state");
    osh::SetPersistentValue(L"Install-Files", L"busy.dat", busy);
    osh::SetPersistentValue(L"Install-Files", L"7", numbered);
    HANDLE held = CreateFileW(busy.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    EXPECT_EQ(ziz::StateFinishingUninstall::Instance()->Exec(worker), nullptr);
    CloseHandle(held);

    EXPECT_FALSE(Exists(payload));
    EXPECT_FALSE(Exists(numbered));
    EXPECT_TRUE(Exists(busy));
    for (const wchar_t* name : kNames) EXPECT_FALSE(Registered(name)) << Narrow(name);
    int warnings = 0;
    for (const auto& line : log.Lines()) {
        if (line.text.find("DeleteInstallRemnants") == std::string::npos) continue;
        ++warnings;
        const std::string prefix = "DeleteInstallRemnants: file \"" + Narrow(busy) + "\" could not be deleted: ";
        EXPECT_EQ(line.text.rfind(prefix, 0), 0u) << line.text;
        // The system's message follows at once, without the name of the failed call.
        const std::string message = line.text.substr(std::min(prefix.size(), line.text.size()));
        EXPECT_FALSE(message.empty()) << line.text;
        EXPECT_EQ(message.find("DeleteFile"), std::string::npos) << line.text;
    }
    EXPECT_EQ(warnings, 1);
    ASSERT_EQ(worker.notifications.size(), 2u);
    EXPECT_EQ(worker.notifications.front().status, ziz::StatusCompleting);
    EXPECT_EQ(worker.notifications.back().status, ziz::StatusSucceeded);
}

// A standard user who can write the product's folder replaces it with a link; the
// registered name then reaches a file of the same name elsewhere, which must survive.
TEST_F(FinishingUninstall, RemnantReachedThroughALinkedFolderIsLeftAlone)
{
    const testsupport::CanaryFolder outside(L"remnants-outside");
    const std::wstring behind = outside.folder + L"\\payload.txt";
    statetest::WriteTextFile(behind, "not ours");
    const std::wstring linked = scratch + L"\\linked";
    const testsupport::FolderLink link(linked, outside.folder);
    osh::SetPersistentValue(L"Install-Files", L"payload.txt", linked + L"\\payload.txt");

    EXPECT_EQ(ziz::StateFinishingUninstall::Instance()->Exec(worker), nullptr);

    EXPECT_TRUE(Exists(behind));
    EXPECT_TRUE(outside.Intact());
    EXPECT_FALSE(Registered(L"payload.txt"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "DeleteInstallRemnants: file \"" + Narrow(linked) +
                                                        "\\payload.txt\" left alone: \"" + Narrow(linked) +
                                                        "\" is a link"));
}

TEST_F(FinishingUninstall, NothingRegisteredStillSucceeds)
{
    EXPECT_EQ(ziz::StateFinishingUninstall::Instance()->Exec(worker), nullptr);
    EXPECT_EQ(worker.GetLastStatus(), ziz::StatusSucceeded);
}

}  // namespace
