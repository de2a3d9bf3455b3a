// The product executable under Wine through the rest of its life cycle: an interactive
// update whose restart question is declined, an uninstall with a command that cannot start,
// the removal of the two older generations with the questions answered from here, the
// continuation run that migrates the beta's data and keeps its client id, and pictures of
// the progress window during an interactive install.
//
// No path of these tests may agree to a restart: a real restart ends every process of the
// Wine prefix. Every run answers through NeverRestart, which declines any restart question
// whatever the test asked for; the one case whose agreement leads to a restart without a
// further question runs in this process with the restart call replaced.
#include "app/ProgressWindow.h"
#include "app/ShellValues.h"
#include "engine/EngineMessages.h"
#include "engine/states/StateRemovingInnoInstall.h"
#include "osh/Elevation.h"
#include "support/LegacyFixtures.h"
#include "support/EndToEnd.h"
#include "support/MessageBoxWatcher.h"
#include "support/MessageLoop.h"
#include "support/ScreenCapture.h"
#include "support/SetupRun.h"
#include "support/StateTestFiles.h"
#include "support/TestEnvironment.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace {

using endtoend::NeverRestart;
using endtoend::RunSetupWatched;
using endtoend::SetupOutcome;
using statetest::Exists;
using statetest::Quoted;
using statetest::RecordedLines;
using testenv::Narrow;

const DWORD kFailed = 0xFFFFFFFFu;
const wchar_t kClidKey[] = L"SOFTWARE\\Norlo\\Norlo 5\\OrganizationDefaults";
const wchar_t kInstallFailed[] = L"Software install failed";
const wchar_t kTitle[] = L"Performing software maintenance...";

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring ProgramFiles64() { return Environment(L"ProgramW6432"); }
std::wstring ProgramFiles32() { return Environment(L"ProgramFiles(x86)"); }
std::wstring ProgramFolder64() { return ProgramFiles64() + L"\\Norlo 5"; }
std::wstring DataRoot() { return Environment(L"ProgramData"); }
std::wstring DataFolder() { return DataRoot() + L"\\Norlo 5"; }
std::wstring SetupFolder() { return DataFolder() + L"\\SetupFiles"; }

const std::vector<std::wstring> kX64Payloads = {L"runtimes-x64.txt", L"viewer-x64.txt", L"services-x64.txt"};

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

constexpr const wchar_t* kLegacyRestartQuestion = legacytest::kRestartQuestion;


// Index of the first line at or after `from` that ends with text, or -1.
int LineEndingWith(const std::vector<std::string>& lines, const std::string& text, int from = 0)
{
    for (size_t i = static_cast<size_t>(std::max(from, 0)); i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

// What a run left installed goes with its own registered command; then the data the runs
// wrote, except the log folder that other tests read.
void RemoveWhatRunsLeft()
{
    endtoend::UninstallWhatRunsLeft();
    testenv::RemoveTree(SetupFolder());
}

class Lifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveWhatRunsLeft();
        DeleteValue(0, kRunOnce, kRunOnceValue);
        endtoend::LayOutRelease();
    }
    void TearDown() override
    {
        RemoveWhatRunsLeft();
        DeleteValue(0, kRunOnce, kRunOnceValue);
        endtoend::CleanRelease();
    }
};

// --- Update with its restart question -------------------------------------------------------

TEST_F(Lifecycle, UpdateRestartQuestionAnsweredNoEndsWithOneAndNoFurtherBox)
{
    const SetupOutcome run = RunSetupWatched(L"/update /nocheck", NeverRestart({IDNO}));
    ASSERT_TRUE(run.started);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 1u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].caption, L"Restart required");
    EXPECT_EQ(run.boxes[0].text,
              L"You must restart your computer to complete the software update\n\nWould you like to restart now?");
    EXPECT_EQ(run.boxes[0].buttons.size(), 2u);
    // The update did its work before it asked.
    for (const std::wstring& payload : kX64Payloads)
        EXPECT_TRUE(Exists(ProgramFolder64() + L"\\" + payload)) << Narrow(payload);
    EXPECT_LT(LineEndingWith(endtoend::LastRunLines(), "Software process complete, failure detected."), 0);
}

// --- Uninstall with a command that cannot start ---------------------------------------------

TEST_F(Lifecycle, UninstallCommandThatCannotStartFailsTheRunAfterTheOthersRan)
{
    ASSERT_EQ(endtoend::RunSetup(L"/install /silent /nocheck"), 0u);
    const auto installed = endtoend::StoreValueNames(L"uninstall");
    ASSERT_FALSE(installed.empty());
    int highest = -1;
    for (const std::wstring& name : installed) highest = std::max(highest, std::stoi(name));
    // The highest number runs first, so the missing program is tried before every package.
    const std::wstring missingName = std::to_wstring(highest + 1);
    const std::wstring missing = L"C:\\Norlo-absent\\uninstall-missing.exe /quiet";
    WriteString(KEY_WOW64_64KEY, L"SOFTWARE\\Norlo\\Norlo 5\\uninstall", missingName.c_str(), missing);

    const SetupOutcome run = RunSetupWatched(L"/uninstall /silent", NeverRestart({}));
    DeleteValue(KEY_WOW64_64KEY, L"SOFTWARE\\Norlo\\Norlo 5\\uninstall", missingName.c_str());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, kFailed);
    // A failure asks nothing, and a silent run shows no failure box.
    EXPECT_TRUE(run.boxes.empty());

    for (const std::wstring& payload : kX64Payloads)
        EXPECT_FALSE(Exists(ProgramFolder64() + L"\\" + payload)) << Narrow(payload);
    for (const std::wstring& name : installed) {
        std::wstring value;
        EXPECT_FALSE(endtoend::ReadStoreValue(L"uninstall", name, value)) << Narrow(name);
    }
    const auto lines = endtoend::LastRunLines();
    const int tried = LineEndingWith(lines, "Executing " + Narrow(missing));
    ASSERT_GE(tried, 0);
    const int failed = LineEndingWith(lines, ":E:Execution failed", tried);
    EXPECT_EQ(failed, tried + 1);
    // Every package's command still ran after the failure, each one successfully.
    size_t succeeded = 0;
    int last = failed;
    for (int at = failed; (at = LineEndingWith(lines, ":I:Execution succeeded", at + 1)) >= 0; last = at) ++succeeded;
    EXPECT_EQ(succeeded, installed.size());
    EXPECT_GT(LineEndingWith(lines, "Software process complete, failure detected.", last), last);
}

// --- Older generations -------------------------------------------------------------------------

class LegacyEndToEnd : public Lifecycle {
protected:
    void TearDown() override
    {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInnoKey, KEY_WOW64_32KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kBetaKey, KEY_WOW64_64KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Norlo\\Norlo 5.0", KEY_WOW64_64KEY, 0);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kClidKey, KEY_WOW64_64KEY, 0);
        for (const std::wstring& folder : createdFolders) testenv::RemoveTree(folder);
        for (const std::wstring& file : createdFiles) DeleteFileW(file.c_str());
        Lifecycle::TearDown();
    }
    std::vector<std::wstring> createdFolders;
    std::vector<std::wstring> createdFiles;
};

class InnoEndToEnd : public LegacyEndToEnd {
protected:
    void SetUp() override
    {
        LegacyEndToEnd::SetUp();
        oldDir = ProgramFiles32() + L"\\Norlo Tessel";
        bin = oldDir + L"\\bin";
        uninstaller = oldDir + L"\\unins000.exe";
        createdFolders.push_back(oldDir);
        statetest::PlaceStandIn(uninstaller);
        for (const wchar_t* name : {L"myreset.dat", L"Re-set.txt", L"RESET.ini", L"engine.dll"})
            statetest::WriteTextFile(bin + L"\\" + name, "x");
        WriteString(KEY_WOW64_32KEY, kInnoKey, L"ProductName", L"Norlo Tessel 4");
        WriteString(KEY_WOW64_32KEY, kInnoKey, L"InstallDir", oldDir);
    }
    std::wstring oldDir, bin, uninstaller;
};

TEST_F(InnoEndToEnd, RemovalAnsweredNoFailsTheInstallAndRemovesNothing)
{
    const SetupOutcome run = RunSetupWatched(L"/install /nocheck", NeverRestart({IDNO, IDOK}));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, kFailed);
    ASSERT_EQ(run.boxes.size(), 2u);
    EXPECT_EQ(run.boxes[0].caption, L"Norlo 5");
    EXPECT_EQ(run.boxes[0].text, RemovalQuestion(L"Norlo Tessel 4"));
    EXPECT_EQ(run.boxes[1].caption, kTitle);
    EXPECT_EQ(run.boxes[1].text, std::wstring(kInstallFailed) + L"\nUser chose to NOT remove the existing product. (" +
                                     endtoend::SetupLogPath() + L")");

    EXPECT_TRUE(RecordedLines(uninstaller).empty());
    for (const wchar_t* name : {L"myreset.dat", L"RESET.ini", L"Re-set.txt", L"engine.dll"})
        EXPECT_TRUE(Exists(bin + L"\\" + name)) << Narrow(name);
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
    EXPECT_FALSE(Exists(ProgramFolder64() + L"\\viewer-x64.txt"));
    EXPECT_GE(LineEndingWith(endtoend::LastRunLines(), ":E:User chose to NOT remove the existing product."), 0);
}

// Agreeing to both questions leads to an INSTALL success with the restart flag, which the
// window turns into a restart without another question; under Wine that would end every
// process of the prefix. End to end the removal is agreed and the restart declined; the
// agreed restart is proven in this process below, with the restart call replaced.
TEST_F(InnoEndToEnd, RemovalAgreedRunsTheUninstallerAndRestartDeclinedFails)
{
    const SetupOutcome run = RunSetupWatched(L"/install /nocheck", NeverRestart({IDYES, IDCANCEL, IDOK}));
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, kFailed);
    ASSERT_EQ(run.boxes.size(), 3u);
    EXPECT_EQ(run.boxes[0].text, RemovalQuestion(L"Norlo Tessel 4"));
    EXPECT_EQ(run.boxes[1].caption, L"Norlo 5");
    EXPECT_EQ(run.boxes[1].text, kLegacyRestartQuestion);
    EXPECT_EQ(run.boxes[2].text, std::wstring(kInstallFailed) + L"\nUser chose to NOT reboot the system, install aborted. (" +
                                     endtoend::SetupLogPath() + L")");

    EXPECT_EQ(RecordedLines(uninstaller), std::vector<std::string>{"/NORESTART /SILENT"});
    EXPECT_FALSE(Exists(bin + L"\\myreset.dat"));
    EXPECT_FALSE(Exists(bin + L"\\RESET.ini"));
    EXPECT_TRUE(Exists(bin + L"\\Re-set.txt"));
    EXPECT_TRUE(Exists(bin + L"\\engine.dll"));
    EXPECT_EQ(RunOnceCommand(), L"<missing>");
    const auto lines = endtoend::LastRunLines();
    EXPECT_GE(LineEndingWith(lines, "Executing " + Narrow(Quoted(uninstaller)) + " /NORESTART /SILENT"), 0);
    EXPECT_GE(LineEndingWith(lines, ":E:User chose to NOT reboot the system, install aborted."), 0);
}

class BetaEndToEnd : public LegacyEndToEnd {
protected:
    void SetUp() override
    {
        LegacyEndToEnd::SetUp();
        betaDir = ProgramFiles64() + L"\\Norlo 5.0";
        uninstaller = betaDir + L"\\uninstall.exe";
        migrateDir = DataRoot() + L"\\Norlo 5.0";
        createdFolders = {betaDir, migrateDir, DataFolder() + L"\\db"};
        createdFiles = {DataFolder() + L"\\.settings"};
        statetest::PlaceStandIn(uninstaller);
        statetest::WriteTextFile(migrateDir + L"\\.settings", "schedule=daily");
        statetest::WriteTextFile(migrateDir + L"\\db\\catalog.dat", "catalog");
        statetest::WriteTextFile(migrateDir + L"\\ignored.txt", "not migrated");
        WriteString(KEY_WOW64_64KEY, kBetaKey, L"CLID", clid);
    }
    std::wstring betaDir, uninstaller, migrateDir;
    const std::wstring clid = L"7F3A-22B1-C0DE";
};

TEST_F(BetaEndToEnd, RemovalHandsMigrationAndClientIdToAContinuationThatInstalls)
{
    const SetupOutcome run = RunSetupWatched(L"/install /nocheck", NeverRestart({IDYES}));
    ASSERT_TRUE(run.ended);
    // The beta removal asks for no restart: success without the flag.
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 1u);
    EXPECT_EQ(run.boxes[0].text, RemovalQuestion(L"Norlo 5 Beta"));
    EXPECT_EQ(RecordedLines(uninstaller), std::vector<std::string>{""});
    // Nothing is installed before the continuation.
    EXPECT_FALSE(Exists(ProgramFolder64() + L"\\viewer-x64.txt"));

    // Where no standard user can replace it before the next logon.
    const std::wstring target = RestartCopy();
    const std::wstring command = RunOnceCommand();
    EXPECT_EQ(command, Quoted(target) + L" /migrate=" + Quoted(migrateDir) + L" /clid=" + clid);
    ASSERT_TRUE(Exists(target));

    // The real beta uninstaller takes its folder with it; the next logon runs the command.
    testenv::RemoveTree(betaDir);
    DeleteValue(0, kRunOnce, kRunOnceValue);
    const SetupOutcome next = endtoend::RunCommandWatched(command + L" /nocheck", NeverRestart({}));
    ASSERT_TRUE(next.ended);
    EXPECT_EQ(next.exitCode, 0u);
    EXPECT_TRUE(next.boxes.empty());
    // The run the logon started takes its restart folder with it: at once where the system
    // lets a running program's file go, else at the next restart.
    const std::string folder = Narrow(target.substr(0, target.rfind(L'\\')));
    const auto nextLines = endtoend::LastRunLines();
    if (Exists(target)) {
        EXPECT_GE(LineEndingWith(nextLines, ":I:The folder of the copy the last logon started goes at the next restart: " +
                                                folder),
                  0);
    } else {
        EXPECT_FALSE(Exists(testenv::Widen(folder)));
        EXPECT_GE(LineEndingWith(nextLines, ":I:Removed the folder of the copy the last logon started: " + folder), 0);
    }

    EXPECT_TRUE(Exists(DataFolder() + L"\\.settings"));
    EXPECT_TRUE(Exists(DataFolder() + L"\\db\\catalog.dat"));
    EXPECT_FALSE(Exists(DataFolder() + L"\\ignored.txt"));
    std::wstring stored;
    EXPECT_TRUE(ReadString(KEY_WOW64_64KEY, kClidKey, L"CLID", stored));
    EXPECT_EQ(stored, clid);
    for (const std::wstring& payload : kX64Payloads)
        EXPECT_TRUE(Exists(ProgramFolder64() + L"\\" + payload)) << Narrow(payload);
}

// --- The agreed restart of the previous generation's removal, in this process ------------------

std::atomic<int> g_restarts{0};
UINT g_restartFlags = 0;

BOOL WINAPI RecordRestart(UINT flags, DWORD)
{
    g_restartFlags = flags;
    ++g_restarts;
    return TRUE;
}

// An engine whose notifications reach a real progress window, as the program's own does.
class WindowWorker : public statetest::RecordingWorker {
public:
    HWND window = nullptr;
    void Notify(ziz::EngineStatus status, int a = 0, int b = 0) override
    {
        RecordingWorker::Notify(status, a, b);
        ziz::EngineMessage message;
        if (ziz::ComposeEngineMessage(status, a, b, GetMode(), IsRestartRequired(), message,
                                      IsRestartAgreed() ? ziz::RestartAgreed : ziz::RestartNone))
            PostMessageW(window, message.message, message.wParam, message.lParam);
    }
};

TEST(InnoRestartInProcess, AgreedRestartIsRequestedWithoutAFurtherQuestionAndEndsWithOne)
{
    const osh::ExitWindowsFunction previous = osh::SetExitWindowsFunction(RecordRestart);
    struct Restore {
        osh::ExitWindowsFunction previous;
        ~Restore() { osh::SetExitWindowsFunction(previous); }
    } restore{previous};
    g_restarts = 0;

    const std::wstring scratch = testenv::MakeScratchDirectory(L"innochain");
    const std::wstring programs = scratch + L"\\Program Files";
    const std::wstring oldDir = programs + L"\\Norlo Tessel";
    const std::wstring setupDir = scratch + L"\\data\\Norlo 5\\SetupFiles";
    statetest::PlaceStandIn(oldDir + L"\\unins000.exe");
    statetest::WriteTextFile(oldDir + L"\\bin\\RESET.dat", "x");
    statetest::PlaceStandIn(scratch + L"\\run\\norlo5-Setup.exe");
    statetest::MakeFolders(scratch + L"\\temp");
    WriteString(KEY_WOW64_32KEY, kInnoKey, L"ProductName", L"Norlo Tessel 4");
    WriteString(KEY_WOW64_32KEY, kInnoKey, L"InstallDir", oldDir);
    DeleteValue(0, kRunOnce, kRunOnceValue);

    auto& shell = app::Shell();
    shell.Instance = GetModuleHandleW(nullptr);
    app::LoadTextInto(400, shell.WindowTitle);
    app::LoadTextInto(109, shell.WindowClass);
    shell.Interactive = true;
    app::RegisterProgressWindowClass(shell.Instance);
    WindowWorker worker;
    worker.window = app::CreateProgressWindow(shell.Instance);
    ASSERT_NE(worker.window, nullptr);
    worker.paths[ziz::evInstall32] = programs + L"\\Norlo 5";
    worker.paths[ziz::evInitial] = scratch + L"\\run";
    worker.paths[ziz::evSetup] = setupDir;
    worker.paths[ziz::evTempDir] = scratch + L"\\temp";
    worker.fileNames[ziz::evInitial] = L"norlo5-Setup.exe";
    worker.fileNames[ziz::evSetup] = L"Setup.exe";
    worker.ParseCommandLine({L"Setup.exe", L"/install"});

    std::vector<testenv::SeenBox> boxes;
    std::optional<int> exitCode;
    {
        // Only here may the restart question be agreed to: the restart call is the seam's.
        testenv::MessageBoxWatcher watcher({IDYES, IDOK});
        EXPECT_EQ(ziz::StateRemovingInnoInstall::Instance()->Exec(worker), nullptr);
        exitCode = testenv::RunUntilQuit();
        Sleep(300);  // a box that followed the quit request would show by now
        boxes = watcher.Stop();
    }
    const std::wstring runOnce = RunOnceCommand();
    const std::wstring restartCopy = RestartCopy();
    const auto uninstallerRuns = RecordedLines(oldDir + L"\\unins000.exe");
    const bool resetGone = !Exists(oldDir + L"\\bin\\RESET.dat");
    DeleteValue(0, kRunOnce, kRunOnceValue);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kInnoKey, KEY_WOW64_32KEY, 0);
    if (IsWindow(worker.window)) DestroyWindow(worker.window);
    testenv::DrainQueue();
    testenv::RemoveTree(scratch);

    std::string seen;
    for (const auto& box : boxes) seen += testenv::Narrow(box.text) + "\n--\n";
    ASSERT_EQ(boxes.size(), 2u) << seen;
    EXPECT_EQ(boxes[0].text, RemovalQuestion(L"Norlo Tessel 4"));
    EXPECT_EQ(boxes[1].text, kLegacyRestartQuestion);
    ASSERT_TRUE(exitCode.has_value());
    EXPECT_EQ(*exitCode, 1);
    EXPECT_EQ(g_restarts.load(), 1);
    EXPECT_EQ(g_restartFlags & EWX_REBOOT, static_cast<UINT>(EWX_REBOOT));
    EXPECT_EQ(runOnce, Quoted(restartCopy));
    EXPECT_EQ(uninstallerRuns, std::vector<std::string>{"/NORESTART /SILENT"});
    EXPECT_TRUE(resetGone);
}

// --- Pictures of an interactive install -------------------------------------------------------

// Without a window manager Wine draws the window frame only when told to, per program.
class FramesDrawnForSetup {
public:
    FramesDrawnForSetup()
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kDriverKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegSetValueExW(key, L"Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
            RegCloseKey(key);
        }
    }
    ~FramesDrawnForSetup()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, kDriverKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Setup.exe");
    }
    FramesDrawnForSetup(const FramesDrawnForSetup&) = delete;
    FramesDrawnForSetup& operator=(const FramesDrawnForSetup&) = delete;

private:
    static constexpr const wchar_t* kDriverKey = L"Software\\Wine\\AppDefaults\\Setup.exe\\X11 Driver";
};

struct WindowSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindProgressWindow(HWND window, LPARAM context)
{
    auto search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (owner == search->processId && IsWindowVisible(window) && std::wstring(name) == L"ZIZ") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring CaptionOf(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

TEST_F(Lifecycle, InteractiveInstallLeavesPicturesOfTheComponentCounts)
{
    const std::string directory = testenv::Variable("NORLO_BUILD_DIR") + "/artifacts";
    CreateDirectoryW(testenv::WindowsPathOf(directory).c_str(), nullptr);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    FramesDrawnForSetup frames;

    std::vector<std::wstring> captions;
    std::vector<std::wstring> pictures;
    const std::wregex counted(L"(Downloading|Installing) component \\(([0-9]+) of ([0-9]+)\\)");
    const SetupOutcome run = RunSetupWatched(L"/install /nocheck", NeverRestart({}), [&](DWORD processId) {
        WindowSearch search{processId, nullptr};
        EnumWindows(FindProgressWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr) return;
        const std::wstring caption = CaptionOf(search.found);
        if (!captions.empty() && captions.back() == caption) return;
        captions.push_back(caption);
        if (!std::regex_match(caption, counted)) return;
        Sleep(150);  // let the frame and the marquee paint
        RECT frame{};
        GetWindowRect(search.found, &frame);
        InflateRect(&frame, 16, 16);
        const testenv::ScreenCapture picture(frame);
        const std::wstring path = testenv::WindowsPathOf(directory + "/install-" +
                                                         std::to_string(pictures.size() + 1) + ".png");
        if (picture.ColourCount() > 2 && picture.SavePng(path)) pictures.push_back(path);
    });
    CoUninitialize();

    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.boxes.empty());
    ASSERT_FALSE(pictures.empty()) << "no counted status was seen";
    // Every counted caption stays within its count, and the counts never go backwards
    // within one kind.
    int lastDownload = 0, lastInstall = 0;
    for (const std::wstring& caption : captions) {
        std::wsmatch match;
        if (!std::regex_match(caption, match, counted)) continue;
        const int number = std::stoi(match[2].str());
        const int count = std::stoi(match[3].str());
        EXPECT_GE(number, 1) << Narrow(caption);
        EXPECT_LE(number, count) << Narrow(caption);
        int& last = match[1].str() == L"Installing" ? lastInstall : lastDownload;
        EXPECT_GE(number, last) << Narrow(caption);
        last = number;
    }
    EXPECT_GT(lastInstall, 0) << "no installing status was seen";
    for (const std::wstring& path : pictures) EXPECT_TRUE(Exists(path)) << Narrow(path);
}

}  // namespace
