// The product executable under Wine against the local test server: update checks, the
// download run, the hand-over to a newer bootstrapper, components taken in from beside the
// program, the appliance medium, and the elevated relaunch of a real engine.
#include "support/EndToEnd.h"
#include "support/Links.h"
#include "support/PolicyKeyValues.h"
#include "support/SetupRun.h"
#include "support/StateFiles.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"
#include "support/TlsServer.h"
#include "support/VendorConfigFile.h"

#include "engine/FileVersion.h"
#include "engine/HandBack.h"
#include "engine/MediumWriter.h"
#include "engine/OSWorker.h"
#include "engine/RunLock.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "osh/Elevation.h"
#include "osh/FileSystem.h"
#include "osh/Process.h"
#include "osh/ScopedHandle.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <functional>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace {

using testenv::Narrow;
using testenv::Widen;
using testsupport::ReadTextFile;
using testsupport::WriteTextFile;

const std::wstring kRelease = L"5.0.1038.10828";
const std::wstring kNewerName = L"norlo5-Setup-" + kRelease + L".exe";
const DWORD kFailed = 0xFFFFFFFF;

const std::vector<std::wstring> kX64Components = {
    L"norlo5-custom-" + kRelease + L"__PRE.msi", L"vcredist_x64.exe", L"norlo5-runtimes-x64-5.0.msi",
    L"norlo5-viewer-x64-" + kRelease + L".msi", L"norlo5-services-x64-" + kRelease + L".msi"};
const std::vector<std::wstring> kX86Components = {
    L"norlo5-custom-" + kRelease + L"__PRE.msi", L"vcredist_x86.exe", L"norlo5-runtimes-x86-5.0.msi",
    L"norlo5-viewer-x86-" + kRelease + L".msi", L"norlo5-services-x86-" + kRelease + L".msi"};

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring SetupFiles() { return Environment(L"ProgramData") + L"\\Norlo 5\\SetupFiles"; }
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::wstring ReleaseUrl(const std::wstring& file)
{
    return endtoend::ServerAddress() + L"/5.0/norlo5/" + kRelease + L"/release/" + file;
}
std::wstring ServedReleaseFile(const std::wstring& file)
{
    return endtoend::ServedRoot() + L"\\5.0\\norlo5\\" + kRelease + L"\\release\\" + file;
}

using endtoend::Publish;
using endtoend::PublishedUpdate;
using endtoend::Replace;
using endtoend::ServedUpdate;
using endtoend::SetupVersion;

// Image paths of running processes that contain fragment.
std::vector<DWORD> ProcessesWith(const std::wstring& fragment)
{
    std::vector<DWORD> found;
    osh::ScopedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    if (!snapshot || !Process32FirstW(snapshot.get(), &entry)) return found;
    do {
        osh::ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        wchar_t path[MAX_PATH * 2];
        DWORD size = ARRAYSIZE(path);
        if (process && QueryFullProcessImageNameW(process.get(), 0, path, &size) &&
            std::wstring(path, size).find(fragment) != std::wstring::npos) {
            found.push_back(entry.th32ProcessID);
        }
    } while (Process32NextW(snapshot.get(), &entry));
    return found;
}

struct HandedOver {
    bool seen = false;
    bool ended = false;
    DWORD exitCode = 0;
};

// Waits for a process whose image path contains fragment to appear and then to end.
HandedOver WaitForHandedOver(const std::wstring& fragment, DWORD appearMs = 15000, DWORD endMs = 180000)
{
    HandedOver result;
    const ULONGLONG until = GetTickCount64() + appearMs;
    std::vector<DWORD> ids;
    while ((ids = ProcessesWith(fragment)).empty() && GetTickCount64() < until) Sleep(50);
    if (ids.empty()) return result;
    result.seen = true;
    osh::ScopedHandle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids.front()));
    if (!process) return result;
    result.ended = WaitForSingleObject(process.get(), endMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(process.get(), &result.exitCode);
    return result;
}

bool RequestedAny(const std::vector<std::wstring>& names)
{
    for (const std::string& request : endtoend::ServerRequests()) {
        for (const std::wstring& name : names) {
            if (request.find(Narrow(name)) != std::string::npos) return true;
        }
    }
    return false;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        testenv::RemoveTree(SetupFiles());
        endtoend::LayOutRelease();
        endtoend::ClearServerRequests();
        logStart_ = endtoend::LastLogLines(100000000).size();
    }
    void TearDown() override
    {
        WaitForHandedOver(L"\\" + kNewerName, 0);
        WaitForHandedOver(L"\\components\\Update.exe", 0);
        endtoend::CleanRelease();
        testenv::RemoveTree(SetupFiles());
    }
    // Lines this test's runs wrote to the setup log.
    std::vector<std::string> RunLog() const
    {
        std::vector<std::string> lines = endtoend::LastLogLines(100000000);
        if (lines.size() < logStart_) return lines;  // rotated
        return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(logStart_), lines.end());
    }
    int LineWith(const std::string& text) const
    {
        const std::vector<std::string> lines = RunLog();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(text) != std::string::npos) return static_cast<int>(i);
        return -1;
    }
    void ExpectComponentsIntact(const std::vector<std::wstring>& names) const
    {
        for (const std::wstring& name : names) {
            EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(name)),
                      Exists(SetupFiles() + L"\\" + name) ? endtoend::FileMd5(SetupFiles() + L"\\" + name) : "")
                << Narrow(name);
        }
    }
    size_t logStart_ = 0;
    testsupport::SavedStoreValue newestVersion_{L"Setup", L"NewestVersion"};
    testsupport::SavedStoreValue newestPath_{L"Setup", L"NewestPath"};
    testsupport::SavedStoreValue updateUrl_{L"Setup", L"updateURL"};
};

// ---------------------------------------------------------------------------------------
// CHECK

using CheckRun = EndToEnd;

TEST_F(CheckRun, NewerBootstrapperPublishedIsRememberedAndSucceeds)
{
    EXPECT_EQ(0u, endtoend::RunSetup(L"/check /silent"));
    std::wstring version;
    std::wstring path;
    EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", L"NewestVersion", version));
    EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", L"NewestPath", path));
    EXPECT_EQ(kRelease, version);
    EXPECT_EQ(ReleaseUrl(kNewerName), path);
    EXPECT_FALSE(RequestedAny({kNewerName}));  // a check fetches the document only
}

TEST_F(CheckRun, SameVersionIsUpToDate)
{
    std::string document = PublishedUpdate();
    Replace(document, "<version>" + Narrow(kRelease) + "</version>", "<version>" + Narrow(SetupVersion()) + "</version>");
    Publish(document);
    EXPECT_EQ(1u, endtoend::RunSetup(L"/check /silent"));
    std::wstring version;
    EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", L"NewestVersion", version));
    EXPECT_EQ(SetupVersion(), version);
}

// A check that could not read the document cannot say "up to date": it fails with the
// reason in the log, and remembers nothing.
TEST_F(CheckRun, UnreachableMissingOrBrokenDocumentsFailTheCheckWithTheirLogLines)
{
    const std::wstring down = L"http://127.0.0.1:" + std::to_wstring(testsupport::ClosedPort()) + L"/update.xml";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, down.c_str(),
                                 static_cast<DWORD>((down.size() + 1) * sizeof(wchar_t)));
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"NewestVersion");
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent"));
    EXPECT_GE(LineWith("Could not download " + Narrow(down) + " to "), 0);
    EXPECT_GT(LineWith("Software process complete, failure detected."), LineWith("Could not download "));
    // Only the running program was considered.
    std::wstring version;
    EXPECT_TRUE(endtoend::ReadStoreValue(L"Setup", L"NewestVersion", version));
    EXPECT_EQ(SetupVersion(), version);

    for (const wchar_t* fault : {L"/404/update.xml", L"/500/update.xml"}) {
        const std::wstring missing = endtoend::ServerAddress() + fault;
        testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, missing.c_str(),
                                     static_cast<DWORD>((missing.size() + 1) * sizeof(wchar_t)));
        logStart_ = endtoend::LastLogLines(100000000).size();
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent")) << Narrow(fault);
        // The error page is not taken for the document: the status fails the transfer.
        const int status = LineWith("Download of \"" + Narrow(missing) + "\" failed: HTTP " + Narrow(fault).substr(1, 3));
        EXPECT_GE(status, 0) << Narrow(fault);
        EXPECT_GT(LineWith("Could not download " + Narrow(missing) + " to "), status) << Narrow(fault);
        EXPECT_GE(LineWith("Software process complete, failure detected."), 0) << Narrow(fault);
    }
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL");

    Publish("<?xml version=\"1.0\"?><Installer><bootstrapper><Item><url>x</url></bootstrapper>");
    logStart_ = endtoend::LastLogLines(100000000).size();
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent"));
    EXPECT_GE(LineWith("XML: Parse Error - "), 0);
    EXPECT_GE(LineWith("Could not load bootstrapper sequence from "), 0);
}

// The update address may list mirrors: a server that answers 404 is named with the reason
// and the next address serves the document.
TEST_F(CheckRun, UpdateAddressListGoesOnToTheNextServer)
{
    const std::wstring missing = endtoend::ServerAddress() + L"/404/update.xml";
    const std::wstring list = missing + L";" + endtoend::ServerAddress() + L"/update.xml";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, list.c_str(),
                                 static_cast<DWORD>((list.size() + 1) * sizeof(wchar_t)));
    const DWORD exitCode = endtoend::RunSetup(L"/check /silent");
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL");
    EXPECT_EQ(0u, exitCode);
    EXPECT_GE(LineWith("Address 1 of 2 \"" + Narrow(missing) + "\" failed (Download of \"" + Narrow(missing) +
                       "\" failed: HTTP 404); trying address 2"),
              0);
    EXPECT_LT(LineWith("Could not download "), 0);
}

// A download folder under a user name in Cyrillic, Greek or Chinese script: the log, the
// reason and the result file carry every name intact, as UTF-8.
TEST_F(CheckRun, RunFromAFolderInAnyScriptWritesItsNamesIntact)
{
    const std::wstring scratch = testenv::MakeScratchDirectory(L"scripts");
    const std::wstring folder = scratch + L"\\\u0410\u043d\u043d\u0430 \u039b\u03ae\u03c8\u03b5\u03b9\u03c2 \u4e0b\u8f7d";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring program = folder + L"\\Setup.exe";
    ASSERT_TRUE(CopyFileW(testenv::SetupExecutable().c_str(), program.c_str(), FALSE));
    const std::wstring missing = endtoend::ServerAddress() + L"/404/\u043e\u0431\u043d\u043e\u0432\u043b\u0435\u043d\u0438\u0435.xml";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, missing.c_str(),
                                 static_cast<DWORD>((missing.size() + 1) * sizeof(wchar_t)));
    const std::wstring resultFile = folder + L"\\\u7ed3\u679c.json";
    const DWORD exitCode = endtoend::RunProgram(program, L"/check /silent \"/result=" + resultFile + L"\"");
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL");
    const std::string result = ReadTextFile(resultFile);
    testenv::RemoveTree(scratch);

    EXPECT_EQ(kFailed, exitCode);
    EXPECT_GE(LineWith("command line: \"" + Narrow(program) + "\" /check /silent"), 0);
    const std::string reason = "Download of \\\"" + Narrow(missing) + "\\\" failed: HTTP 404";
    EXPECT_GE(LineWith("Download of \"" + Narrow(missing) + "\" failed: HTTP 404"), 0);
    EXPECT_EQ(0u, result.find("{\"mode\":\"CHECK\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"" + reason))
        << result;
    EXPECT_EQ(testenv::Narrow(testenv::Widen(result)), result) << "not UTF-8";
}

// A server that accepts the connection and then sends nothing ends the check after the
// transfer's one-minute limit, as a failed check. The only test that waits the real limit,
// in a suite of its own so that it does not eat the others' time.
class SilentUpdateServer : public CheckRun {
protected:
    // The key store points the run at the server that never answers; TearDown takes it back.
    void SetUp() override
    {
        CheckRun::SetUp();
        testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, silent_.c_str(),
                                     static_cast<DWORD>((silent_.size() + 1) * sizeof(wchar_t)));
    }

    void TearDown() override
    {
        testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL");
        CheckRun::TearDown();
    }

    const std::wstring silent_ = endtoend::ServerAddress() + L"/silent/update.xml";
};

TEST_F(SilentUpdateServer, EndsAsAFailedCheckAfterTheLimit)
{
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent", 150000));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 60000u);
    EXPECT_LT(took, 100000u) << "asked again after the time-out";
    const int timeOut =
        LineWith("Download of \"" + Narrow(silent_) + "\" failed: time-out (no data from the server for 60 s)");
    EXPECT_GE(timeOut, 0);
    EXPECT_GT(LineWith("Could not download " + Narrow(silent_) + " to "), timeOut);
    EXPECT_GE(LineWith("Software process complete, failure detected."), 0);
}

BOOL CALLBACK FindVisibleWindowOf(HWND window, LPARAM context)
{
    auto* search = reinterpret_cast<std::pair<DWORD, HWND>*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->first || !IsWindowVisible(window)) return TRUE;
    search->second = window;
    return FALSE;
}

struct ClosedRun {
    endtoend::SetupOutcome run;
    ULONGLONG closedAt = 0;
    ULONGLONG ended = 0;
};

// Runs Setup.exe and closes its progress window three seconds into the run (while it waits
// for the silent server), as someone at the screen would.
ClosedRun RunAndCloseTheWindow(const std::wstring& arguments)
{
    ClosedRun closed;
    const ULONGLONG start = GetTickCount64();
    closed.run = endtoend::RunSetupWatched(
        arguments, endtoend::NeverRestart({}),
        [&](DWORD processId) {
            if (closed.closedAt != 0 || GetTickCount64() - start < 3000) return;
            std::pair<DWORD, HWND> search{processId, nullptr};
            EnumWindows(FindVisibleWindowOf, reinterpret_cast<LPARAM>(&search));
            if (search.second == nullptr) return;
            PostMessageW(search.second, WM_CLOSE, 0, 0);
            closed.closedAt = GetTickCount64();
        },
        90000);
    closed.ended = GetTickCount64();
    return closed;
}

// Someone closes the progress window while the check waits for the silent server: the run
// ends within about a second of it, not after the minute's limit, and as cancelled: a
// check that was not finished never answers 0 ("update available") nor 1 ("up to date").
TEST_F(SilentUpdateServer, ClosingTheWindowEndsTheWaitAtOnceAndCancelsTheCheck)
{
    const std::wstring folder = testenv::MakeScratchDirectory(L"cancelled-check");
    const ClosedRun closed = RunAndCloseTheWindow(L"/check \"/result=" + folder + L"\\result.json\"");
    ASSERT_TRUE(closed.run.ended);
    ASSERT_NE(0u, closed.closedAt) << "no window was seen";
    // A second for the transfer, the rest for the process to end under Wine.
    EXPECT_LT(closed.ended - closed.closedAt, 5000u);
    EXPECT_GE(LineWith("Download of \"" + Narrow(silent_) + "\" failed: the transfer was cancelled"), 0);
    EXPECT_LT(LineWith("time-out (no data from the server"), 0);
    EXPECT_EQ(kFailed, closed.run.exitCode);
    EXPECT_TRUE(closed.run.boxes.empty());
    EXPECT_GE(LineWith("Setup ended, mode CHECK, outcome cancelled, exit code -1, restart needed no"), 0);
    const std::string result = ReadTextFile(folder + L"\\result.json");
    EXPECT_EQ(0u, result.find("{\"mode\":\"CHECK\",\"outcome\":\"cancelled\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"Cancelled: the window was closed before the run reported an outcome\""))
        << result;
    testenv::RemoveTree(folder);
}

// An install closed while it still looks for a newer bootstrapper stops at the next step:
// cancelled, -1, and not one component fetched or installed.
TEST_F(SilentUpdateServer, ClosingTheWindowOfAnInstallCancelsItBeforeAnyComponent)
{
    const ClosedRun closed = RunAndCloseTheWindow(L"/install");
    ASSERT_TRUE(closed.run.ended);
    ASSERT_NE(0u, closed.closedAt) << "no window was seen";
    EXPECT_EQ(kFailed, closed.run.exitCode);
    EXPECT_TRUE(closed.run.boxes.empty());
    EXPECT_GE(LineWith("Setup ended, mode INSTALL, outcome cancelled, exit code -1, restart needed no"), 0);
    EXPECT_FALSE(RequestedAny(kX64Components));
    EXPECT_LT(LineWith("Executing "), 0);
}

// The visible window of a process and its caption; null when it has none.
std::pair<HWND, std::wstring> VisibleWindowOf(DWORD processId)
{
    std::pair<DWORD, HWND> search{processId, nullptr};
    EnumWindows(FindVisibleWindowOf, reinterpret_cast<LPARAM>(&search));
    if (search.second == nullptr) return {nullptr, L""};
    wchar_t caption[512] = {};
    GetWindowTextW(search.second, caption, 512);
    return {search.second, caption};
}

// Two runs started together: while the first waits for the silent server it holds the
// machine's setup lock; the second says in its window that it waits, and after the bound
// of the vendor setting ends "busy" with -1, having asked nothing of the server.
TEST_F(SilentUpdateServer, SecondRunWaitsForTheFirstThenEndsBusy)
{
    const testenv::VendorConfigFile settings("setup.lock.wait.seconds=3\n");
    const std::wstring results = testenv::MakeScratchDirectory(L"busy-result");
    const std::wstring resultFile = results + L"\\result.json";
    std::wstring firstLine = L"\"" + testenv::SetupExecutable() + L"\" /check";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION first = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &firstLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &first));
    osh::ScopedHandle firstProcess(first.hProcess);
    osh::ScopedHandle firstThread(first.hThread);
    // The first run checks (its window says so) once it holds the lock.
    HWND firstWindow = nullptr;
    for (const ULONGLONG until = GetTickCount64() + 30000; GetTickCount64() < until; Sleep(50)) {
        const auto window = VisibleWindowOf(first.dwProcessId);
        if (window.second == L"Checking for updates...") {
            firstWindow = window.first;
            break;
        }
    }
    ASSERT_NE(nullptr, firstWindow) << "the first run never reached its check";
    const auto askedServer = [] {
        for (const std::string& request : endtoend::ServerRequests())
            if (request.find("/silent/update.xml") != std::string::npos) return true;
        return false;
    };
    for (const ULONGLONG until = GetTickCount64() + 15000; !askedServer() && GetTickCount64() < until;) Sleep(50);
    ASSERT_TRUE(askedServer()) << "the first run never asked the server";
    endtoend::ClearServerRequests();

    std::wstring waitingText;
    const endtoend::SetupOutcome second = endtoend::RunSetupWatched(
        L"/check /result=" + resultFile, endtoend::NeverRestart({}),
        [&](DWORD processId) {
            const auto window = VisibleWindowOf(processId);
            if (waitingText.empty() && window.second.find(L"Waiting") == 0) waitingText = window.second;
        },
        60000);
    const std::vector<std::string> requests = endtoend::ServerRequests();
    PostMessageW(firstWindow, WM_CLOSE, 0, 0);
    const bool firstEnded = WaitForSingleObject(firstProcess.get(), 30000) == WAIT_OBJECT_0;
    if (!firstEnded) TerminateProcess(firstProcess.get(), 9);
    const std::string result = ReadTextFile(resultFile);
    testenv::RemoveTree(results);

    ASSERT_TRUE(second.ended);
    EXPECT_EQ(kFailed, second.exitCode);
    EXPECT_EQ(L"Waiting for another setup to finish...", waitingText);
    ASSERT_EQ(1u, second.boxes.size());
    EXPECT_EQ(0u, second.boxes[0].text.find(L"Check for update failed\nAnother setup is still running after 3 seconds; "
                                            L"nothing was changed, try again later"))
        << Narrow(second.boxes[0].text);
    EXPECT_TRUE(requests.empty()) << "the waiting run asked the server";
    EXPECT_EQ(0u, result.find("{\"mode\":\"CHECK\",\"outcome\":\"busy\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"Another setup is still running after 3 seconds; nothing was "
                              "changed, try again later\""))
        << result;
    EXPECT_TRUE(firstEnded) << "the first run did not end when its window closed";
}

// Only the holder's own handle lets a run work under its lock: a made-up switch, or one
// naming the holder with a handle of something else, makes the run wait like any other
// and end "busy"; the switch the holder itself passes lets the run do its work.
TEST_F(CheckRun, LockSwitchCountsOnlyWithTheHoldersHandleBehindIt)
{
    const testenv::VendorConfigFile settings("setup.lock.wait.seconds=1\n");
    // This process holds the lock, as a first run would.
    ASSERT_EQ(ziz::LockOutcome::Taken, ziz::AcquireRunLock({L"test"}, 0, nullptr, nullptr));
    struct Release {
        ~Release() { ziz::ReleaseRunLock(); }
    } release;
    const std::wstring genuine = ziz::WithOwnLockClaim({L"test"}).back();
    osh::ScopedHandle unrelated(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const std::wstring otherHandle = ziz::LockClaimSwitch(
        ziz::LockClaim{GetCurrentProcessId(), reinterpret_cast<std::uintptr_t>(unrelated.get())});
    ziz::LockClaim claimed;
    ASSERT_TRUE(ziz::ParseLockClaim(genuine, claimed));
    // The same handle value, claimed for a process that did not start the run.
    const std::wstring otherProcess = ziz::LockClaimSwitch(ziz::LockClaim{4, claimed.handle});

    const std::wstring results = testenv::MakeScratchDirectory(L"claim-result");
    for (const std::wstring& forged : {otherHandle, otherProcess, std::wstring(L"/runlock=1.4")}) {
        SCOPED_TRACE(Narrow(forged));
        const std::wstring resultFile = results + L"\\forged.json";
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent " + forged + L" /result=" + resultFile));
        EXPECT_EQ(0u, ReadTextFile(resultFile).find("{\"mode\":\"CHECK\",\"outcome\":\"busy\",")) << ReadTextFile(resultFile);
    }
    const std::wstring resultFile = results + L"\\genuine.json";
    EXPECT_EQ(0u, endtoend::RunSetup(L"/check /silent " + genuine + L" /result=" + resultFile));
    EXPECT_EQ(0u, ReadTextFile(resultFile).find("{\"mode\":\"CHECK\",\"outcome\":\"succeeded\",")) << ReadTextFile(resultFile);
    testenv::RemoveTree(results);
    EXPECT_GE(LineWith("Ignoring " + Narrow(otherHandle) + ": its handle is not the lock"), 0);
    EXPECT_GE(LineWith("Ignoring " + Narrow(otherProcess) + ": process 4 did not start this run"), 0);
    EXPECT_GE(LineWith("Working under the setup lock of process " + std::to_string(GetCurrentProcessId())), 0);
}

TEST_F(CheckRun, BootstrapperSequenceWithTwoItemsFailsTheCheck)
{
    std::string document = PublishedUpdate();
    const size_t begin = document.find("<Item", document.find("<bootstrapper>"));
    const size_t end = document.find("</Item>", begin) + 7;
    document.insert(end, document.substr(begin, end - begin));
    Publish(document);
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent"));
    EXPECT_GE(LineWith("Sequence bootstrapper has wrong item count (2) is not one)"), 0);
    EXPECT_GE(LineWith("Could not load bootstrapper sequence from "), 0);
}

// ---------------------------------------------------------------------------------------
// The administrator's policies against the real program: each stated first, in the result
// file, and stronger than the key store.

class PolicyRun : public EndToEnd {
protected:
    // The run's line that says the policy is in effect, among the policy lines (in effect or
    // ignored) right after its start line.
    void ExpectStatedFirst(const std::string& policy) const
    {
        const int started = LineWith(" started, mode ");
        const int stated = LineWith(":I:Policy in effect: " + policy);
        ASSERT_GE(started, 0);
        ASSERT_GT(stated, started) << policy;
        const std::vector<std::string> lines = RunLog();
        for (int i = started + 1; i < stated; ++i) EXPECT_NE(std::string::npos, lines[i].find(":Policy ")) << lines[i];
    }
    std::wstring ReleasePrefix(const std::wstring& version) const { return version.substr(0, version.rfind(L'.') + 1); }

    testsupport::PolicyKeyScope policies_;
    testsupport::SavedStoreValue lastVersion_{L"Setup", L"LastVer"};
};

TEST_F(PolicyRun, UpdateUrlPolicyBeatsTheKeyStoreAndIsStatedAndRecorded)
{
    const std::wstring mirror = endtoend::ServerAddress() + L"/mirror/update.xml";
    CreateDirectoryW((endtoend::ServedRoot() + L"\\mirror").c_str(), nullptr);
    WriteTextFile(endtoend::ServedRoot() + L"\\mirror\\update.xml", PublishedUpdate());
    const std::wstring refused = endtoend::ServerAddress() + L"/404/update.xml";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, refused.c_str(),
                                 static_cast<DWORD>((refused.size() + 1) * sizeof(wchar_t)));
    ASSERT_TRUE(policies_.SetText(L"UpdateURL", mirror));
    ASSERT_TRUE(policies_.SetNumber(L"JobWaitMinutes", 5000));  // out of range: ignored, named
    const std::wstring results = testenv::MakeScratchDirectory(L"policy-result");

    EXPECT_EQ(0u, endtoend::RunSetup(L"/check /silent /result=" + results + L"\\result.json"));
    const std::string result = ReadTextFile(results + L"\\result.json");
    testenv::RemoveTree(results);
    testenv::RemoveTree(endtoend::ServedRoot() + L"\\mirror");

    ExpectStatedFirst("UpdateURL=" + Narrow(mirror));
    EXPECT_GE(LineWith(":W:Policy \"JobWaitMinutes\" ignored: 5000 is outside 0 to 1440"), 0);
    std::vector<std::string> documents;
    for (const std::string& request : endtoend::ServerRequests())
        if (request.find("update.xml") != std::string::npos) documents.push_back(request);
    ASSERT_EQ(1u, documents.size()) << testing::PrintToString(documents);
    EXPECT_NE(std::string::npos, documents[0].find("/mirror/update.xml")) << documents[0];
    EXPECT_NE(std::string::npos, result.find(",\"policies\":{\"UpdateURL\":\"" + Narrow(mirror) + "\"}}")) << result;
}

// With self-update off the published newer bootstrapper is neither fetched nor started: the
// running one downloads its own components.
TEST_F(PolicyRun, SelfUpdateOffKeepsTheWorkWithTheRunningBootstrapper)
{
    ASSERT_TRUE(policies_.SetNumber(L"SelfUpdate", 0));
    const std::wstring results = testenv::MakeScratchDirectory(L"policy-result");
    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent /result=" + results + L"\\result.json"));
    const std::string result = ReadTextFile(results + L"\\result.json");
    testenv::RemoveTree(results);

    ExpectStatedFirst("SelfUpdate=0");
    EXPECT_GE(LineWith(":I:Bootstrapper " + Narrow(kRelease) + " (" + Narrow(ReleaseUrl(kNewerName)) +
                       ") is not handed over to: policy SelfUpdate=0"),
              0);
    EXPECT_FALSE(RequestedAny({kNewerName}));
    EXPECT_FALSE(WaitForHandedOver(L"\\components\\Update.exe", 0).seen);
    EXPECT_FALSE(Exists(SetupFiles() + L"\\Update.exe"));
    EXPECT_EQ(std::string::npos, result.find("handed over")) << result;
    EXPECT_NE(std::string::npos, result.find("\"policies\":{\"SelfUpdate\":0}")) << result;
    ExpectComponentsIntact(kX64Components);
}

// A pin to the running bootstrapper's release keeps the published one out; a pin that
// excludes the running one too fetches nothing; a machine ahead of the pin is left alone.
TEST_F(PolicyRun, TargetVersionPrefixKeepsEveryOtherReleaseOut)
{
    const std::wstring own = ReleasePrefix(SetupVersion());
    ASSERT_NE(own, ReleasePrefix(kRelease)) << "the published release must be another";
    ASSERT_TRUE(policies_.SetText(L"TargetVersionPrefix", own));
    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent"));
    ExpectStatedFirst("TargetVersionPrefix=" + Narrow(own));
    EXPECT_GE(LineWith(":I:Bootstrapper " + Narrow(kRelease) + " (" + Narrow(ReleaseUrl(kNewerName)) +
                       ") is not handed over to: outside policy TargetVersionPrefix=" + Narrow(own)),
              0);
    EXPECT_FALSE(RequestedAny({kNewerName}));
    ExpectComponentsIntact(kX64Components);

    testenv::RemoveTree(SetupFiles());
    endtoend::ClearServerRequests();
    ASSERT_TRUE(policies_.SetText(L"TargetVersionPrefix", L"5.0.2000."));
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"LastVer");
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent"));
    EXPECT_GE(LineWith(":E:Policy TargetVersionPrefix=5.0.2000.: this bootstrapper's release " + Narrow(SetupVersion()) +
                       " is outside it and none within it was found; nothing was fetched or installed"),
              0);
    EXPECT_FALSE(RequestedAny({kNewerName}));
    EXPECT_FALSE(RequestedAny(kX64Components));

    const std::wstring ahead = L"5.0.3000.1";
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"LastVer", REG_SZ, ahead.c_str(),
                                 static_cast<DWORD>((ahead.size() + 1) * sizeof(wchar_t)));
    EXPECT_EQ(1u, endtoend::RunSetup(L"/download /silent"));
    EXPECT_GE(LineWith(":I:Policy TargetVersionPrefix=5.0.2000.: this machine has 5.0.3000.1, ahead of it; left alone"), 0);
    EXPECT_FALSE(RequestedAny(kX64Components));
}

// A key that is there but cannot be read may hold the machine back: the install ends before
// it asks the server anything, and the caller reads why.
TEST_F(PolicyRun, UnreadableKeyEndsTheRunBeforeAnythingIsFetched)
{
    ASSERT_TRUE(policies_.SetNumber(L"SelfUpdate", 0));
    ASSERT_TRUE(policies_.DenyReading());
    const std::wstring results = testenv::MakeScratchDirectory(L"policy-result");
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/install /silent /result=" + results + L"\\result.json"));
    const std::string result = ReadTextFile(results + L"\\result.json");
    testenv::RemoveTree(results);

    const std::string line = testsupport::UnreadableKeyLine(ERROR_ACCESS_DENIED);
    const int refused = LineWith(":E:" + line);
    EXPECT_EQ(LineWith(" started, mode INSTALL") + 1, refused) << "the policies are read first";
    EXPECT_LT(LineWith("No policy in effect"), 0);
    EXPECT_GT(LineWith("Setup ended, mode INSTALL, outcome failed, exit code -1"), refused);
    EXPECT_TRUE(endtoend::ServerRequests().empty()) << testing::PrintToString(endtoend::ServerRequests());
    EXPECT_FALSE(Exists(SetupFiles()));
    std::string inJson = line;  // the key's backslashes, escaped
    for (size_t at = 0; (at = inJson.find('\\', at)) != std::string::npos; at += 2) inJson.insert(at, 1, '\\');
    EXPECT_EQ(0u, result.find("{\"mode\":\"INSTALL\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
                              "\"failureReason\":\"" + inJson + "\""))
        << result;
}

// ---------------------------------------------------------------------------------------
// DOWNLOAD

using DownloadRun = EndToEnd;

TEST_F(DownloadRun, EverythingEndsUpInTheSetupDirectoryAndASecondRunFetchesNothing)
{
    // The newer bootstrapper is saved as Update.exe and takes the run over: the elevated run
    // starts its checked copy in its admin-only folder; the setup files keep a copy too.
    // The first process waits for it and ends with its exit code.
    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent"));
    EXPECT_GE(LineWith("\\components\\Update.exe ended with exit code 0"), 0);
    const HandedOver update = WaitForHandedOver(L"\\components\\Update.exe", 3000);
    if (update.seen) {
        EXPECT_TRUE(update.ended);
        EXPECT_EQ(0u, update.exitCode);
    }
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(kNewerName)), endtoend::FileMd5(SetupFiles() + L"\\Update.exe"));
    ExpectComponentsIntact(kX64Components);

    endtoend::ClearServerRequests();
    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent"));
    WaitForHandedOver(L"\\components\\Update.exe", 3000);
    EXPECT_FALSE(endtoend::ServerRequests().empty());
    EXPECT_FALSE(RequestedAny(kX64Components));
    ExpectComponentsIntact(kX64Components);

    endtoend::ClearServerRequests();
    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent /clean"));
    WaitForHandedOver(L"\\components\\Update.exe", 3000);
    for (const std::wstring& name : kX64Components) EXPECT_TRUE(RequestedAny({name})) << Narrow(name);
    ExpectComponentsIntact(kX64Components);
}

// An item with mirrors (here the newer bootstrapper of update.xml): the first address answers
// 404, the second sends another program (which fails its check, is deleted and never runs),
// the third the bootstrapper itself, which then takes the run over.
TEST_F(DownloadRun, BootstrapperRefusedByItsFirstAddressesComesFromALaterMirror)
{
    const std::wstring refused = endtoend::ServerAddress() + L"/404/5.0/norlo5/" + kRelease + L"/release/" + kNewerName;
    const std::wstring other = ReleaseUrl(L"appliance.exe");
    std::string document = PublishedUpdate();
    const std::string url = "<url>" + Narrow(ReleaseUrl(kNewerName)) + "</url>";
    const size_t at = document.find(url, document.find("<bootstrapper>"));
    ASSERT_NE(std::string::npos, at);
    document.replace(at, url.size(), "<url>" + Narrow(refused) + "</url><mirror>" + Narrow(other) + "</mirror><mirror>" +
                                         Narrow(ReleaseUrl(kNewerName)) + "</mirror>");
    Publish(document);
    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent"));
    WaitForHandedOver(L"\\components\\Update.exe", 3000);
    const int first = LineWith("Address 1 of 3 \"" + Narrow(refused) + "\" failed (Download of \"" + Narrow(refused) +
                               "\" failed: HTTP 404); trying address 2");
    const int second =
        LineWith("Address 2 of 3 \"" + Narrow(other) + "\" failed (the file failed its checks); trying address 3");
    EXPECT_GE(first, 0);
    EXPECT_GT(second, first);
    EXPECT_GT(LineWith("\\components\\Update.exe ended with exit code 0"), second);
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(kNewerName)), endtoend::FileMd5(SetupFiles() + L"\\Update.exe"));
}

// Without a newer bootstrapper the first process downloads itself and reports the outcome.
class DownloadFailure : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        std::string document = PublishedUpdate();
        Replace(document, "<version>" + Narrow(kRelease) + "</version>",
                "<version>" + Narrow(SetupVersion()) + "</version>");
        Publish(document);
    }
};

TEST_F(DownloadFailure, ComponentWithOtherBytesFailsTheRun)
{
    const std::wstring broken = L"norlo5-runtimes-x64-5.0.msi";
    WriteTextFile(ServedReleaseFile(broken), "not the package the sequence describes");
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent /clean"));
    EXPECT_TRUE(RequestedAny({broken}));
    EXPECT_GE(LineWith("Download failed file integrity check"), 0);
    EXPECT_GE(LineWith("Software process complete, failure detected."), 0);
    // Later components were not tried.
    EXPECT_FALSE(Exists(SetupFiles() + L"\\norlo5-viewer-x64-" + kRelease + L".msi"));
}

TEST_F(DownloadFailure, ComponentCutOffMidFileFailsTheRun)
{
    const std::wstring cut = L"norlo5-viewer-x64-" + kRelease + L".msi";
    const std::string whole = ReadTextFile(endtoend::ReleaseFile(cut));
    WriteTextFile(ServedReleaseFile(cut), whole.substr(0, whole.size() / 2));
    // "clean" keeps the system's download cache from answering with an earlier whole copy.
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent /clean"));
    EXPECT_TRUE(RequestedAny({cut}));
    EXPECT_GE(LineWith("Download failed file integrity check"), 0);
    EXPECT_GE(LineWith("Software process complete, failure detected."), 0);
}

// ---------------------------------------------------------------------------------------
// HTTPS and the address rule. The harness's TLS server serves the same folder, one port per
// certificate; only this prefix trusts the authority that issued them. The newer
// bootstrapper's components are not served, so a run it takes over fails quickly.

using testsupport::TlsCertificate;

const TlsCertificate kRefusedCertificates[] = {TlsCertificate::Expired, TlsCertificate::WrongHost,
                                               TlsCertificate::Untrusted};

std::string CertificateRefusedLine(const std::wstring& url)
{
    return "Download of \"" + Narrow(url) +
           "\" failed: the server's certificate was refused (expired or not yet valid, issued for another host "
           "name, or by an authority this computer does not trust) (error ";
}

class SecureServer : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        testsupport::TrustTestAuthority();
        for (const std::wstring& name : kX64Components) DeleteFileW(ServedReleaseFile(name).c_str());
    }
    // Starts a new stretch of the log for the next run and forgets what was found last.
    void UseUpdateUrl(const std::wstring& url)
    {
        testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, url.c_str(),
                                     static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t)));
        testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"NewestVersion");
        endtoend::ClearServerRequests();
        logStart_ = endtoend::LastLogLines(100000000).size();
    }
    // Publishes the document with the newer bootstrapper at url instead of the plain server.
    void PublishBootstrapperAt(const std::wstring& url)
    {
        std::string document = PublishedUpdate();
        Replace(document, "<url>" + Narrow(ReleaseUrl(kNewerName)) + "</url>", "<url>" + Narrow(url) + "</url>");
        Publish(document);
        endtoend::ClearServerRequests();
        logStart_ = endtoend::LastLogLines(100000000).size();
    }
    std::wstring NewestVersion() const
    {
        std::wstring version;
        endtoend::ReadStoreValue(L"Setup", L"NewestVersion", version);
        return version;
    }
};

TEST_F(SecureServer, CheckReadsTheDocumentOverHttpsAndFailsWhenTheCertificateIsRefused)
{
    UseUpdateUrl(testsupport::HttpsServerAddress(TlsCertificate::Valid) + L"/update.xml");
    EXPECT_EQ(0u, endtoend::RunSetup(L"/check /silent"));
    EXPECT_EQ(kRelease, NewestVersion());
    EXPECT_TRUE(RequestedAny({L"/update.xml"}));

    for (TlsCertificate refused : kRefusedCertificates) {
        SCOPED_TRACE(testsupport::TlsCertificateName(refused));
        const std::wstring url = testsupport::HttpsServerAddress(refused) + L"/update.xml";
        UseUpdateUrl(url);
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent"));
        const int refusal = LineWith(CertificateRefusedLine(url));
        EXPECT_GE(refusal, 0);
        EXPECT_GT(LineWith("Could not download " + Narrow(url) + " to "), refusal);
        EXPECT_GE(LineWith("Software process complete, failure detected."), 0);
        // Not "up to date", and nothing newer remembered: only the running program counts.
        EXPECT_EQ(SetupVersion(), NewestVersion());
        EXPECT_TRUE(endtoend::ServerRequests().empty()) << "the connection ends before any request";
    }
}

TEST_F(SecureServer, NewerBootstrapperComesOverHttpsOnlyWithAnAcceptedCertificate)
{
    for (TlsCertificate refused : kRefusedCertificates) {
        SCOPED_TRACE(testsupport::TlsCertificateName(refused));
        const std::wstring url = testsupport::HttpsServerAddress(refused) + L"/5.0/norlo5/" + kRelease +
                                 L"/release/" + kNewerName;
        PublishBootstrapperAt(url);
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent"));
        const int refusal = LineWith(CertificateRefusedLine(url));
        EXPECT_GE(refusal, 0);
        EXPECT_GT(LineWith("Unable to download " + Narrow(url)), refusal);
        EXPECT_GE(LineWith("Cannot continue download."), 0);
        EXPECT_FALSE(Exists(SetupFiles() + L"\\Update.exe"));
        EXPECT_FALSE(RequestedAny({kNewerName}));
    }

    PublishBootstrapperAt(testsupport::HttpsServerAddress(TlsCertificate::Valid) + L"/5.0/norlo5/" + kRelease +
                          L"/release/" + kNewerName);
    // It arrives intact and takes over; it then fails at the components, which are not served.
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent"));
    WaitForHandedOver(L"\\components\\Update.exe", 3000);
    EXPECT_TRUE(RequestedAny({kNewerName}));
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(kNewerName)), endtoend::FileMd5(SetupFiles() + L"\\Update.exe"));
    EXPECT_GE(LineWith("\\components\\Update.exe ended with exit code -1"), 0);
}

// Addresses that are not http or https, for the update document and for the bootstrapper
// item. The file: address names a real document (and a real newer bootstrapper) that
// would be taken in if it were fetched.
struct ForeignAddress {
    std::wstring url;
    std::string refusal;  // after "Refused address \"<url>\": "
};

std::vector<ForeignAddress> ForeignAddressesOf(const std::wstring& localFile, const std::wstring& servedPath)
{
    const std::wstring served = endtoend::ServerAddress() + servedPath;  // http://127.0.0.1:port/...
    return {
        {L"file:///" + localFile, "scheme \"file\", only http and https addresses are accepted"},
        {L"\\\\127.0.0.1\\c$" + localFile.substr(2), "a network path, not an http or https address"},
        {L"ftp" + served.substr(4), "scheme \"ftp\", only http and https addresses are accepted"},
        {served.substr(7), "no scheme, only http and https addresses are accepted"},
    };
}

TEST_F(SecureServer, UpdateAddressOtherThanHttpOrHttpsIsRefusedAndTheCheckFails)
{
    for (const ForeignAddress& address : ForeignAddressesOf(ServedUpdate(), L"/update.xml")) {
        SCOPED_TRACE(Narrow(address.url));
        UseUpdateUrl(address.url);
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent"));
        const int refusal = LineWith("Refused address \"" + Narrow(address.url) + "\": " + address.refusal);
        EXPECT_GE(refusal, 0);
        EXPECT_GT(LineWith("Could not download " + Narrow(address.url) + " to "), refusal);
        EXPECT_EQ(SetupVersion(), NewestVersion()) << "the document was not read";
        EXPECT_TRUE(endtoend::ServerRequests().empty());
    }
}

TEST_F(SecureServer, BootstrapperAddressOtherThanHttpOrHttpsIsRefusedAndNothingIsFetched)
{
    const std::wstring path = L"/5.0/norlo5/" + kRelease + L"/release/" + kNewerName;
    for (const ForeignAddress& address : ForeignAddressesOf(ServedReleaseFile(kNewerName), path)) {
        SCOPED_TRACE(Narrow(address.url));
        PublishBootstrapperAt(address.url);
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent"));
        const int refusal = LineWith("Refused address \"" + Narrow(address.url) + "\": " + address.refusal);
        EXPECT_GE(refusal, 0);
        EXPECT_GT(LineWith("Unable to download " + Narrow(address.url)), refusal);
        EXPECT_FALSE(Exists(SetupFiles() + L"\\Update.exe"));
        EXPECT_FALSE(RequestedAny({kNewerName}));
    }
}

// ---------------------------------------------------------------------------------------
// INSTALL and UPDATE hand-over. The components are not served, so a run that carries on
// instead of handing over fails at the downloads and installs nothing.

class HandOver : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        for (const std::wstring& name : kX64Components) DeleteFileW(ServedReleaseFile(name).c_str());
    }
};

TEST_F(HandOver, NewerBootstrapperThatFailsMakesTheFirstRunFailWithIt)
{
    // The first process waits for the newer one, which fails at the downloads, and ends
    // with its exit code. It got "/silent" too: otherwise its failure would wait in a box.
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/update /silent"));
    const int started = LineWith("\\" + Narrow(kNewerName) + " (process ");
    const int ended = LineWith(Narrow(kNewerName) + " ended with exit code -1");
    EXPECT_GE(LineWith("Downloaded "), 0);
    EXPECT_GE(started, 0);
    EXPECT_GT(ended, started);
    EXPECT_GT(ended, LineWith("Software process complete, failure detected."));
}

TEST_F(HandOver, CallerRunningFromTheSetupFilesIsNeitherEndedNorLeftWithoutTheOutcome)
{
    // The installed product starts updates from the setup-files copy; the newer bootstrapper
    // it hands over to ends stale copies there, but never the caller waiting for it.
    const std::wstring caller = SetupFiles() + L"\\Setup.exe";
    CreateDirectoryW((Environment(L"ProgramData") + L"\\Norlo 5").c_str(), nullptr);
    CreateDirectoryW(SetupFiles().c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(testenv::SetupExecutable().c_str(), caller.c_str(), FALSE));
    EXPECT_EQ(kFailed, endtoend::RunProgram(caller, L"/update /silent"));
    EXPECT_GE(LineWith(Narrow(kNewerName) + " ended with exit code -1"), 0);
    EXPECT_EQ(-1, LineWith("Ended stale copy " + Narrow(caller)));
}

TEST_F(HandOver, NewerBootstrapperFailingItsCheckIsNotStarted)
{
    std::string document = PublishedUpdate();
    const size_t hash = document.find("<Hash>", document.find("<bootstrapper>"));
    document.replace(hash + 6, 32, "00000000000000000000000000000000");
    Publish(document);
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/install /silent"));
    EXPECT_FALSE(WaitForHandedOver(L"\\" + kNewerName, 2000).seen);
    const int notReady = LineWith(Narrow(kNewerName) + " not ready for install");
    const int carriedOn = LineWith("Downloading \"" + Narrow(kX64Components.front()) + "\"");
    EXPECT_GE(notReady, 0);
    EXPECT_GT(carriedOn, notReady);
}

// ---------------------------------------------------------------------------------------
// A signed run hands over only to bootstrappers of its own publisher. The programs are
// signed by throw-away publishers (tests/integrity/make-publisher-copies.sh): the running
// Setup.exe as "setup.<signer>.exe", the newer bootstrapper as "next.<signer>.exe".

std::wstring PublisherCopy(const std::wstring& name)
{
    return testenv::BuildDirectory() + L"\\tests\\publishers\\" + name;
}

const std::string kNotOurPublisher = " refused: not signed by this program's publisher \"CN=Norlo test publisher\"; signer ";

// The update documents of those publishers, signed over the sample release's document
// (tests/integrity/make-signed-documents.py): "<name>.<signer>.xml" and its ".p7s".
std::wstring SignedDocumentFile(const std::wstring& name)
{
    return testenv::BuildDirectory() + L"\\tests\\documents\\" + name;
}

// What earlier runs accepted lives in the machine hive; every signed test starts without it.
void ForgetAcceptedDocuments()
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5\\UpdateDocument", KEY_WOW64_64KEY, 0);
}

class PinnedPublisher : public HandOver {
protected:
    void SetUp() override
    {
        HandOver::SetUp();
        media_ = testenv::MakeScratchDirectory(L"pin-media");
        ForgetAcceptedDocuments();
        DeleteFileW(SignatureBeside().c_str());
    }
    void TearDown() override
    {
        HandOver::TearDown();
        testenv::RemoveTree(media_);
        ForgetAcceptedDocuments();
        DeleteFileW(SignatureBeside().c_str());
    }
    static std::wstring SignatureBeside() { return ServedUpdate() + L".p7s"; }
    // Runs Setup.exe signed by signer ("unsigned" for none) from a folder of its own.
    DWORD RunSignedSetup(const std::wstring& signer, const std::wstring& arguments)
    {
        const std::wstring program = media_ + L"\\Setup.exe";
        EXPECT_TRUE(CopyFileW(PublisherCopy(L"setup." + signer + L".exe").c_str(), program.c_str(), FALSE));
        logStart_ = endtoend::LastLogLines(100000000).size();
        return endtoend::RunProgram(program, arguments);
    }
    // Publishes a signed document ("newer.publisher") with its signature beside it.
    void PublishSigned(const std::wstring& name)
    {
        Publish(testsupport::ReadTextFile(SignedDocumentFile(name + L".xml")));
        ASSERT_TRUE(CopyFileW(SignedDocumentFile(name + L".xml.p7s").c_str(), SignatureBeside().c_str(), FALSE));
    }
    // Serves a variant of the newer bootstrapper under a document without its digests, as
    // whoever controls the network could; the document itself is the publisher's (or the
    // given signer's).
    void ServeNewer(const std::wstring& variant, const std::wstring& documentSigner = L"publisher")
    {
        ASSERT_TRUE(CopyFileW(PublisherCopy(L"next." + variant + L".exe").c_str(), ServedReleaseFile(kNewerName).c_str(),
                              FALSE));
        PublishSigned(L"newer." + documentSigner);
    }
    // Announces a bootstrapper newer than every program here that never arrives, so the
    // run falls back to the best local candidate.
    void PublishNewerThatFails()
    {
        PublishSigned(L"fails.publisher");
        DeleteFileW(ServedReleaseFile(kNewerName).c_str());
    }
    void PlaceSetupFilesCopy(const std::wstring& variant)
    {
        CreateDirectoryW((Environment(L"ProgramData") + L"\\Norlo 5").c_str(), nullptr);
        CreateDirectoryW(SetupFiles().c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(PublisherCopy(variant).c_str(), (SetupFiles() + L"\\Setup.exe").c_str(), FALSE));
    }
    bool HandedOverTo(const std::wstring& program) const { return LineWith(Narrow(program) + " (process ") >= 0; }
    int CarriedOn() const { return LineWith("Downloading \"" + Narrow(kX64Components.front()) + "\""); }
    int CountLinesWith(const std::string& text) const
    {
        int count = 0;
        for (const std::string& line : RunLog()) count += line.find(text) != std::string::npos ? 1 : 0;
        return count;
    }
    std::wstring media_;
};

TEST_F(PinnedPublisher, NewerBootstrapperOfTheSamePublisherIsHandedOver)
{
    ServeNewer(L"publisher");
    EXPECT_EQ(kFailed, RunSignedSetup(L"publisher", L"/install /silent"));
    EXPECT_TRUE(HandedOverTo(L"\\" + kNewerName));
    EXPECT_GE(LineWith(Narrow(kNewerName) + " ended with exit code -1"), 0);
    EXPECT_EQ(-1, LineWith(" refused: "));
}

TEST_F(PinnedPublisher, RenewedCertificateFromTheSameAuthorityIsHandedOver)
{
    ServeNewer(L"issued2", L"issued2");
    EXPECT_EQ(kFailed, RunSignedSetup(L"issued1", L"/install /silent"));
    EXPECT_TRUE(HandedOverTo(L"\\" + kNewerName));
    EXPECT_EQ(-1, LineWith(" refused: "));
}

TEST_F(PinnedPublisher, AnybodyElsesUnsignedOrAlteredBootstrapperIsRefusedAndTheRunCarriesOn)
{
    const std::string file = "\\" + Narrow(kNewerName);
    struct Case {
        const wchar_t* variant;
        std::string line;
    };
    for (const Case& c : {Case{L"other", file + kNotOurPublisher + "\"CN=Other test publisher\""},
                          // Our publisher's name on a key of its own.
                          Case{L"impostor", file + kNotOurPublisher + "\"CN=Norlo test publisher\""},
                          Case{L"unsigned", "Signature check failure on file "},
                          Case{L"tampered", "Signature check failure on file "}}) {
        ServeNewer(c.variant);
        EXPECT_EQ(kFailed, RunSignedSetup(L"publisher", L"/install /silent")) << Narrow(c.variant);
        const int refused = LineWith(c.line);
        EXPECT_GE(refused, 0) << Narrow(c.variant);
        EXPECT_GT(LineWith(Narrow(kNewerName) + " not ready for install"), refused) << Narrow(c.variant);
        EXPECT_FALSE(HandedOverTo(L"\\" + kNewerName)) << Narrow(c.variant);
        EXPECT_GT(CarriedOn(), refused) << Narrow(c.variant);
    }
}

// Trust fails closed: a program whose own signature is there but does not verify is no
// development build. It believes no update document and hands over to nobody, says why
// once, and carries on itself. A certificate expired without a timestamp is such a
// signature on Windows; Wine's provider ignores the dates, so there the program believes
// documents and hands over to its own publisher only.
TEST_F(PinnedPublisher, DamagedOrExpiredOwnSignatureHandsOverToNoOtherPublisher)
{
    const std::string file = "\\" + Narrow(kNewerName);
    const std::string own = "This program's own signature does not verify: its signature does not verify (0x";
    struct Case {
        const wchar_t* signer;
        bool ownLine;
        std::string refusal;
    };
    for (const Case& c :
         {Case{L"tampered", true, "Update document refused: this program's own publisher is unknown"},
          Case{L"expired", false,
               file + " refused: not signed by this program's publisher \"CN=Norlo expired publisher\"; signer "
                      "\"CN=Other test publisher\""}}) {
        ServeNewer(L"other", L"expired");
        EXPECT_EQ(kFailed, RunSignedSetup(c.signer, L"/install /silent")) << Narrow(c.signer);
        EXPECT_EQ(c.ownLine ? 1 : 0, CountLinesWith(own)) << Narrow(c.signer);
        const int refused = LineWith(c.refusal);
        EXPECT_GE(refused, 0) << Narrow(c.signer);
        EXPECT_FALSE(HandedOverTo(L"\\" + kNewerName)) << Narrow(c.signer);
        EXPECT_GT(CarriedOn(), refused) << Narrow(c.signer);
    }
}

TEST_F(PinnedPublisher, SetupFilesCopyOfAnotherPublisherNeverBecomesACandidate)
{
    PublishNewerThatFails();
    PlaceSetupFilesCopy(L"next.other.exe");
    EXPECT_EQ(kFailed, RunSignedSetup(L"publisher", L"/install /silent"));
    const int refused = LineWith("\\SetupFiles\\Setup.exe" + kNotOurPublisher + "\"CN=Other test publisher\"");
    EXPECT_GE(refused, 0);
    EXPECT_FALSE(HandedOverTo(L"\\SetupFiles\\Setup.exe"));
    EXPECT_GT(CarriedOn(), refused);

    // The same newer copy signed by our publisher takes the run over.
    PlaceSetupFilesCopy(L"next.publisher.exe");
    EXPECT_EQ(kFailed, RunSignedSetup(L"publisher", L"/install /silent"));
    EXPECT_TRUE(HandedOverTo(L"\\SetupFiles\\Setup.exe"));
    EXPECT_EQ(-1, LineWith(" refused: "));
}

TEST_F(PinnedPublisher, DownloadRunKeepsNoUpdateExeOfAnotherPublisher)
{
    ServeNewer(L"other");
    EXPECT_EQ(kFailed, RunSignedSetup(L"publisher", L"/download /silent"));
    EXPECT_GE(LineWith("\\components\\Update.exe" + kNotOurPublisher + "\"CN=Other test publisher\""), 0);
    EXPECT_GE(LineWith("Cannot continue download."), 0);
    EXPECT_FALSE(Exists(SetupFiles() + L"\\Update.exe"));
}

TEST_F(PinnedPublisher, UnsignedProgramSaysOnceThatItCannotCheckAndHandsOverAsBefore)
{
    // Two candidates are judged: the signed copy in the setup-files folder and the download.
    PlaceSetupFilesCopy(L"setup.publisher.exe");
    ServeNewer(L"other");
    EXPECT_EQ(kFailed, RunSignedSetup(L"unsigned", L"/install /silent"));
    EXPECT_TRUE(HandedOverTo(L"\\" + kNewerName));
    EXPECT_EQ(1, CountLinesWith("This program is not signed: the publisher of another bootstrapper cannot be checked"));
    EXPECT_EQ(1, CountLinesWith("This program is not signed: the update document is used without checking who signed it"));
    // (The signed bootstrapper it hands over to judges the document by its own publisher.)
    EXPECT_EQ(-1, LineWith(".exe refused: "));
    EXPECT_EQ(-1, LineWith("signature beside the update document"));
}

// ---------------------------------------------------------------------------------------
// A signed run believes only an update document its publisher signed, for this product,
// unexpired and not older than one the machine accepted before. A refused document is not
// used at all: the run carries on with the local bootstrapper and its embedded sequence.

class SignedDocument : public PinnedPublisher {
protected:
    void SetUp() override
    {
        PinnedPublisher::SetUp();
        result_ = media_ + L"\\result.json";
    }
    DWORD RunPublisherSetup(const std::wstring& mode)
    {
        DeleteFileW(result_.c_str());
        return RunSignedSetup(L"publisher", mode + L" /silent \"/result=" + result_ + L"\"");
    }
    std::string Result() const { return testsupport::ReadTextFile(result_); }
    static std::wstring HighestSerial()
    {
        osh::ScopedKey key;
        wchar_t value[64] = {};
        DWORD size = sizeof(value) - sizeof(wchar_t);
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5\\UpdateDocument", 0,
                          KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.receive()) == ERROR_SUCCESS)
            RegQueryValueExW(key.get(), L"HighestSerial", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        return value;
    }
    std::wstring result_;
};

const std::string kCarriedOn = "Carrying on with the local bootstrapper and its embedded sequence";

TEST_F(SignedDocument, EachRefusedDocumentHasItsLineAndTheRunCarriesOnWithoutIt)
{
    // A document the machine has seen makes older ones replays.
    PublishSigned(L"local.publisher");
    EXPECT_EQ(kFailed, RunPublisherSetup(L"/install"));
    EXPECT_GE(LineWith("Update document accepted: serial 42, expires on "), 0);
    EXPECT_EQ(L"42", HighestSerial());
    EXPECT_NE(std::string::npos, Result().find("\"updateDocument\":\"Update document accepted: serial 42")) << Result();

    std::string altered = testsupport::ReadTextFile(SignedDocumentFile(L"local.publisher.xml"));
    Replace(altered, "<version>" + Narrow(SetupVersion()) + "</version>", "<version>5.0.9999.1</version>");
    struct Case {
        const char* name;
        std::function<void()> publish;
        std::string line;
    };
    for (const Case& c : {
             Case{"replayed", [&] { PublishSigned(L"older.publisher"); },
                  "Update document refused: serial 41 is older than 42 already seen"},
             Case{"expired", [&] { PublishSigned(L"expired.publisher"); },
                  "Update document refused: expired on 2020-03-01"},
             Case{"changed after signing",
                  [&] {
                      PublishSigned(L"local.publisher");
                      Publish(altered);
                  },
                  "Update document refused: signature does not match its content"},
             Case{"another publisher's", [&] { PublishSigned(L"local.other"); },
                  "Update document refused: signed by \"CN=Other test publisher\" (not this publisher)"},
             Case{"another product's", [&] { PublishSigned(L"product.publisher"); },
                  "Update document refused: for another product"},
             Case{"unsigned",
                  [&] {
                      Publish(testsupport::ReadTextFile(SignedDocumentFile(L"local.publisher.xml")));
                      DeleteFileW(SignatureBeside().c_str());
                  },
                  "Update document refused: it carries no signature"},
         }) {
        c.publish();
        EXPECT_EQ(kFailed, RunPublisherSetup(L"/install")) << c.name;
        const int refused = LineWith(c.line);
        EXPECT_GE(refused, 0) << c.name;
        EXPECT_EQ(refused + 1, LineWith(kCarriedOn)) << c.name;
        EXPECT_GT(CarriedOn(), refused) << c.name;
        std::string json = c.line;
        for (size_t at = json.find('"'); at != std::string::npos; at = json.find('"', at + 2)) json.insert(at, "\\");
        EXPECT_NE(std::string::npos, Result().find("\"updateDocument\":\"" + json + "; carried on with the local "
                                                    "bootstrapper and its embedded sequence\""))
            << c.name << ": " << Result();
        EXPECT_EQ(L"42", HighestSerial()) << c.name;
    }
}

TEST_F(SignedDocument, RefusedDocumentFailsTheCheck)
{
    PublishSigned(L"expired.publisher");
    EXPECT_EQ(kFailed, RunPublisherSetup(L"/check"));
    EXPECT_NE(std::string::npos,
              Result().find("\"failureReason\":\"Update document refused: expired on 2020-03-01\""))
        << Result();
    EXPECT_EQ(-1, LineWith(kCarriedOn));
}

TEST_F(SignedDocument, AnnouncedPublisherTakesOver)
{
    PublishSigned(L"announce.publisher");
    EXPECT_EQ(kFailed, RunPublisherSetup(L"/install"));
    EXPECT_GE(LineWith("Update document accepted: serial 43"), 0);

    ServeNewer(L"other", L"other");
    PublishSigned(L"handover.other");
    EXPECT_EQ(kFailed, RunPublisherSetup(L"/install"));
    EXPECT_GE(LineWith("Update document accepted: serial 44, expires on "), 0);
    EXPECT_GE(LineWith(", signed by the announced publisher \"CN=Other test publisher\""), 0);
    EXPECT_GE(LineWith(Narrow(kNewerName) + " accepted: signed by the announced publisher \"CN=Other test publisher\""), 0);
    EXPECT_TRUE(HandedOverTo(L"\\" + kNewerName));
    EXPECT_EQ(L"44", HighestSerial());
}

TEST_F(SignedDocument, UnannouncedPublisherDoesNotTakeOver)
{
    ServeNewer(L"other", L"other");
    PublishSigned(L"handover.other");
    EXPECT_EQ(kFailed, RunPublisherSetup(L"/install"));
    const int refused = LineWith("Update document refused: signed by \"CN=Other test publisher\" (not this publisher)");
    EXPECT_GE(refused, 0);
    EXPECT_FALSE(HandedOverTo(L"\\" + kNewerName));
    EXPECT_GT(CarriedOn(), refused);
    EXPECT_EQ(L"", HighestSerial());
}

// ---------------------------------------------------------------------------------------
// Components beside the program

using LocalCopies = EndToEnd;

TEST_F(LocalCopies, ComponentsBesideTheProgramAreTakenIntoTheSetupDirectory)
{
    endtoend::CleanRelease();  // nothing to download: what is not beside the program fails
    const std::wstring media = testenv::MakeScratchDirectory(L"statesa-media");
    const std::wstring left = kX64Components.back();
    ASSERT_TRUE(CopyFileW(testenv::SetupExecutable().c_str(), (media + L"\\Setup.exe").c_str(), FALSE));
    std::set<std::wstring> beside(kX64Components.begin(), kX64Components.end() - 1);
    beside.insert(kX86Components.begin(), kX86Components.end());
    for (const std::wstring& name : beside) {
        ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(name).c_str(), (media + L"\\" + name).c_str(), FALSE));
    }
    EXPECT_EQ(kFailed, endtoend::RunProgram(media + L"\\Setup.exe", L"/install /silent /nocheck"));
    testenv::RemoveTree(media);
    std::vector<std::wstring> copied(beside.begin(), beside.end());
    ExpectComponentsIntact(copied);
    EXPECT_GE(LineWith(Narrow(left) + " does not exist, not copied."), 0);
    EXPECT_GE(LineWith("appliance.exe does not exist, not copied."), 0);
    // Components without the record of a finished preparation: the log says so.
    EXPECT_GE(LineWith(":setup:W:medium incomplete: no record medium.xml beside the components"), 0);
    EXPECT_TRUE(RequestedAny({left}));
    EXPECT_FALSE(RequestedAny(std::vector<std::wstring>(kX64Components.begin(), kX64Components.end() - 1)));
}

// ---------------------------------------------------------------------------------------
// APPLIANCE

class ApplianceRun : public EndToEnd {
protected:
    void SetUp() override
    {
        EndToEnd::SetUp();
        target_ = testenv::MakeScratchDirectory(L"statesa-medium");
        CreateDirectoryW((target_ + L"\\Norlo").c_str(), nullptr);
        CreateDirectoryW(MediumFiles().c_str(), nullptr);
        WriteTextFile(MediumFiles() + L"\\norlo5-services-x64-5.0.1000.1.msi", "from an earlier preparation");
        // The appliance program runs from a copy of the run's own, gone when it ends: the
        // stand-in keeps its record in the setup files instead.
        SetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", SetupFiles().c_str());
        DeleteFileW((SetupFiles() + L"\\appliance.exe.ran").c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", nullptr);
        DeleteFileW((SetupFiles() + L"\\appliance.exe.ran").c_str());
        testenv::RemoveTree(target_);
        EndToEnd::TearDown();
    }
    std::wstring MediumFiles() const { return target_ + L"\\Norlo\\SetupFiles"; }
    std::vector<std::wstring> MediumNames() const
    {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        osh::ScopedFind find(FindFirstFileW((MediumFiles() + L"\\*").c_str(), &data));
        if (!find) return names;
        do {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
        } while (FindNextFileW(find.get(), &data));
        std::sort(names.begin(), names.end());
        return names;
    }
    std::wstring target_;
};

TEST_F(ApplianceRun, MediumReceivesEveryComponentAndTheApplianceProgramRuns)
{
    EXPECT_EQ(0u, endtoend::RunSetup(L"/appliance=" + target_ + L" /silent"));
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(hiddenSystem, GetFileAttributesW((target_ + L"\\Norlo").c_str()) & hiddenSystem);
    EXPECT_EQ(hiddenSystem, GetFileAttributesW(MediumFiles().c_str()) & hiddenSystem);

    std::set<std::wstring> expected(kX64Components.begin(), kX64Components.end());
    expected.insert(kX86Components.begin(), kX86Components.end());
    expected.insert(L"Setup.exe");
    std::set<std::wstring> onMedium = expected;
    onMedium.insert(L"medium.xml");
    EXPECT_EQ(std::vector<std::wstring>(onMedium.begin(), onMedium.end()), MediumNames());
    for (const std::wstring& name : expected) {
        const std::wstring source = name == L"Setup.exe" ? testenv::SetupExecutable() : endtoend::ReleaseFile(name);
        EXPECT_EQ(endtoend::FileMd5(source), endtoend::FileMd5(MediumFiles() + L"\\" + name)) << Narrow(name);
    }
    const std::string ran = ReadTextFile(SetupFiles() + L"\\appliance.exe.ran");
    EXPECT_NE(std::string::npos, ran.find("\" -y \r\ndirectory: " + Narrow(target_) + "\r\n")) << ran;
    EXPECT_EQ(std::string::npos, ran.find(Narrow(SetupFiles()) + "\\appliance.exe")) << "run from a held copy: " << ran;
    EXPECT_GE(LineWith("Executing command: \""), 0);
    EXPECT_GE(LineWith("appcopy.cmd\" \"" + Narrow(target_) + "\\\" \""), 0);
    EXPECT_EQ(-1, LineWith("Command failed, exit status: "));
    // Each file was read back from the medium, and the record beside them says so.
    for (const std::wstring& name : expected) EXPECT_GE(LineWith("Copied to the medium: " + Narrow(name) + " ("), 0);
    ziz::MediumRecord record;
    std::string problem;
    ASSERT_TRUE(ziz::ReadMediumRecord(MediumFiles(), record, problem)) << problem;
    EXPECT_EQ(expected.size(), record.Files.size());
    for (const ziz::MediumFile& file : record.Files) {
        EXPECT_EQ(1u, expected.count(file.Name)) << Narrow(file.Name);
        EXPECT_EQ(endtoend::FileMd5(MediumFiles() + L"\\" + file.Name), Narrow(file.Md5)) << Narrow(file.Name);
    }
    EXPECT_FALSE(record.BootstrapperVersion.empty());
    EXPECT_GT(LineWith("Medium complete: "), LineWith("appcopy.cmd\" \""));
}

TEST_F(ApplianceRun, RefreshAfterOneComponentChangedCopiesOnlyThatOne)
{
    ASSERT_EQ(0u, endtoend::RunSetup(L"/appliance=" + target_ + L" /silent"));
    const std::wstring changed = kX64Components[1];
    WriteTextFile(MediumFiles() + L"\\" + changed, "the redistributable of an earlier release");
    DeleteFileW((SetupFiles() + L"\\" + changed).c_str());
    endtoend::ClearServerRequests();
    logStart_ = endtoend::LastLogLines(100000000).size();

    EXPECT_EQ(0u, endtoend::RunSetup(L"/appliance=" + target_ + L" /silent"));
    std::vector<std::wstring> others(kX86Components.begin(), kX86Components.end());
    for (const std::wstring& name : kX64Components) {
        if (name != changed) others.push_back(name);
    }
    EXPECT_TRUE(RequestedAny({changed}));
    EXPECT_FALSE(RequestedAny(others));
    EXPECT_GE(LineWith("Copied to the medium: " + Narrow(changed) + " ("), 0);
    others.push_back(L"Setup.exe");
    for (const std::wstring& name : others) {
        EXPECT_GE(LineWith("Kept on the medium: " + Narrow(name) + " ("), 0) << Narrow(name);
        EXPECT_EQ(-1, LineWith("Copied to the medium: " + Narrow(name) + " (")) << Narrow(name);
    }
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(changed)), endtoend::FileMd5(MediumFiles() + L"\\" + changed));
    EXPECT_TRUE(Exists(MediumFiles() + L"\\medium.xml"));
}

TEST_F(ApplianceRun, ComponentThatCannotBeCopiedFailsTheRunAndDeletesNothing)
{
    CreateDirectoryW((MediumFiles() + L"\\vcredist_x86.exe").c_str(), nullptr);
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/appliance=" + target_ + L" /silent"));
    EXPECT_TRUE(Exists(MediumFiles() + L"\\norlo5-services-x64-5.0.1000.1.msi"));
    EXPECT_GE(LineWith("Could not copy \""), 0);
    EXPECT_FALSE(Exists(SetupFiles() + L"\\appliance.exe.ran"));
    RemoveDirectoryW((MediumFiles() + L"\\vcredist_x86.exe").c_str());
}

// Another user made the medium's "Norlo" a link to a folder of theirs (from the Unix side):
// the run refuses the medium, starts neither the appliance program nor the copy script, and
// makes, marks or removes nothing where the link leads.
TEST_F(ApplianceRun, MediumFolderThatIsALinkIsRefusedAndNothingHappensWhereItLeads)
{
    const testsupport::CanaryFolder outside(L"statesa-medium-outside");
    const std::wstring theirs = outside.folder + L"\\SetupFiles";
    CreateDirectoryW(theirs.c_str(), nullptr);
    WriteTextFile(theirs + L"\\old.msi", "theirs");
    testenv::RemoveTree(target_ + L"\\Norlo");
    const testsupport::FolderLink link(target_ + L"\\Norlo", outside.folder);

    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/appliance=" + target_ + L" /silent"));

    EXPECT_GE(LineWith(Narrow(target_) + "\\Norlo is a link"), 0);
    EXPECT_EQ(-1, LineWith("appcopy.cmd\" \""));
    EXPECT_FALSE(Exists(SetupFiles() + L"\\appliance.exe.ran"));
    const DWORD hiddenSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    EXPECT_EQ(0u, GetFileAttributesW(theirs.c_str()) & hiddenSystem);
    EXPECT_EQ("theirs", ReadTextFile(theirs + L"\\old.msi"));
    std::vector<std::wstring> files, folders;
    osh::ListDirectory(theirs, files, folders);
    EXPECT_EQ(std::vector<std::wstring>{L"old.msi"}, files);
    EXPECT_TRUE(folders.empty());
    EXPECT_TRUE(outside.Intact());
}

// ---------------------------------------------------------------------------------------
// Not elevated: the relaunch of a real engine, seen through the two seams.

struct Relaunch {
    std::wstring file;
    std::wstring parameters;
    std::wstring directory;
};
std::vector<Relaunch> g_relaunches;
bool g_relaunchStarts = true;

HRESULT NotElevated(bool* elevated)
{
    if (elevated) *elevated = false;
    return 1;
}

// Whether the recorded relaunch gives a process to wait for (one that ends with 1 at once).
bool g_relaunchGivesProcess = true;

bool RecordRelaunch(HWND, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                    osh::ScopedHandle* process)
{
    g_relaunches.push_back({file, parameters, directory});
    if (!g_relaunchStarts || !g_relaunchGivesProcess || process == nullptr) return g_relaunchStarts;
    std::wstring commandLine = L"cmd.exe /c exit 1";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &started))
        return false;
    CloseHandle(started.hThread);
    process->reset(started.hProcess);
    return true;
}

class ElevationRelaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousQuery_ = osh::SetElevationQueryFunction(NotElevated);
        previousRun_ = osh::SetRunElevatedFunction(RecordRelaunch);
        g_relaunches.clear();
        g_relaunchStarts = true;
        g_relaunchGivesProcess = true;
    }
    void TearDown() override
    {
        osh::SetElevationQueryFunction(previousQuery_);
        osh::SetRunElevatedFunction(previousRun_);
    }
    osh::ElevationQueryFunction previousQuery_ = nullptr;
    osh::RunElevatedFunction previousRun_ = nullptr;
};

TEST_F(ElevationRelaunch, RealEngineRelaunchesItselfFromItsOwnPath)
{
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ziz::OSWorker worker;
    worker.ParseCommandLine({self, L"/update", L"/result=C:\\r.json", L"/migrate=C:\\Old Data"});
    worker.SetRestartRequired(true);
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    ASSERT_EQ(1u, g_relaunches.size());
    EXPECT_EQ(0, lstrcmpiW(self, g_relaunches[0].file.c_str())) << Narrow(g_relaunches[0].file);
    // The elevated copy hands its facts back; the result file is written by this process.
    EXPECT_EQ(L"/update \"/migrate=C:\\Old Data\" /handback=" + ziz::HandBackId(), g_relaunches[0].parameters);
    EXPECT_EQ(ziz::HandBackFile(ziz::HandBackId(), true), worker.Report().HandBackFile());
    std::wstring temp;
    ASSERT_TRUE(worker.GetPath(temp, ziz::evTempDir));
    EXPECT_EQ(temp, g_relaunches[0].directory);
    EXPECT_TRUE(Exists(temp));
    EXPECT_EQ(ziz::StatusHandedOver, worker.GetLastStatus());
    EXPECT_EQ(1, worker.Report().ChildExitCode());
    EXPECT_FALSE(worker.IsRestartRequired());
}

// A start the system reports without a process to wait for would lose the outcome: it is a
// failure, never a success.
TEST_F(ElevationRelaunch, RelaunchWithoutAProcessToWaitForFails)
{
    g_relaunchGivesProcess = false;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ziz::OSWorker worker;
    worker.ParseCommandLine({self, L"/install"});
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    EXPECT_EQ(1u, g_relaunches.size());
    EXPECT_EQ(ziz::StatusFailed, worker.GetLastStatus());
    EXPECT_FALSE(worker.Report().HandedOver());
}

TEST_F(ElevationRelaunch, RefusedRelaunchEndsWithFailure)
{
    g_relaunchStarts = false;
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ziz::OSWorker worker;
    worker.ParseCommandLine({self, L"/uninstall"});
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    EXPECT_EQ(1u, g_relaunches.size());
    EXPECT_EQ(ziz::StatusFailed, worker.GetLastStatus());
}

}  // namespace
