// The progress window as the main thread runs it: a real window of the program's class,
// the engine's two messages posted to it, a message loop until WM_QUIT, and the boxes
// and exit codes that result.
#include "app/ProgressWindow.h"
#include "app/RunSummary.h"
#include "app/SetupLog.h"
#include "app/ShellValues.h"
#include "engine/EngineMessages.h"
#include "engine/InstallMode.h"
#include "osh/Elevation.h"
#include "support/MessageBoxWatcher.h"
#include "support/MessageLoop.h"
#include "support/ScreenCapture.h"
#include "support/TestEnvironment.h"

#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr const wchar_t* Title = L"Performing software maintenance...";
constexpr const wchar_t* RestartCaption = L"Restart required";
constexpr const wchar_t* UpdateQuestion =
    L"You must restart your computer to complete the software update\n\nWould you like to restart now?";
constexpr const wchar_t* UninstallQuestion =
    L"You must restart your computer to complete the uninstall process\n\nWould you like to restart now?";

std::atomic<int> g_restarts{0};

BOOL WINAPI RecordRestart(UINT, DWORD)
{
    ++g_restarts;
    return TRUE;
}

HRESULT NotElevated(bool* elevated)
{
    if (elevated) *elevated = false;
    return 1;
}

HRESULT Elevated(bool* elevated)
{
    if (elevated) *elevated = true;
    return 0;
}

using testenv::Pump;
using testenv::RunUntilQuit;

std::wstring CaptionOf(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return text;
}

WPARAM Counts(int a, int b)
{
    return static_cast<WPARAM>(b * 256 + a);
}

WPARAM Outcome(int mode, int code)
{
    return static_cast<WPARAM>(code * 256 + mode);
}

class ProgressWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        auto& shell = app::Shell();
        shell.Instance = GetModuleHandleW(nullptr);
        app::LoadTextInto(400, shell.WindowTitle);
        app::LoadTextInto(109, shell.WindowClass);
        ASSERT_NE(0, app::RegisterProgressWindowClass(shell.Instance));
    }

    void SetUp() override
    {
        g_restarts = 0;
        previousExit_ = osh::SetExitWindowsFunction(RecordRestart);
        previousElevation_ = osh::SetElevationQueryFunction(Elevated);
        app::Shell().Interactive = true;
        window_ = app::CreateProgressWindow(app::Shell().Instance);
        ASSERT_NE(nullptr, window_);
    }

    void TearDown() override
    {
        if (IsWindow(window_)) DestroyWindow(window_);
        testenv::DrainQueue();
        osh::SetExitWindowsFunction(previousExit_);
        osh::SetElevationQueryFunction(previousElevation_);
        app::Shell().Interactive = true;
        app::Shell().Unattended = false;
    }

    void Show()
    {
        ShowWindow(window_, SW_SHOWNORMAL);
        UpdateWindow(window_);
    }

    // Posts an outcome, answers the boxes it raises and returns the exit code.
    std::optional<int> Finish(int mode, int code, UINT textId, std::vector<int> answers,
                              std::vector<testenv::SeenBox>& boxes)
    {
        testenv::MessageBoxWatcher watcher(std::move(answers));
        PostMessageW(window_, WM_ENGINE_DONE, Outcome(mode, code), textId);
        const auto exitCode = RunUntilQuit();
        Sleep(300);  // a box that would follow the quit request would show by now
        boxes = watcher.Stop();
        return exitCode;
    }

    HWND window_ = nullptr;
    osh::ExitWindowsFunction previousExit_ = nullptr;
    osh::ElevationQueryFunction previousElevation_ = nullptr;
};

TEST_F(ProgressWindow, IsACentredCaptionedPopUpOverAMarqueeBar)
{
    RECT desktop{};
    GetClientRect(GetDesktopWindow(), &desktop);
    RECT frame{};
    GetWindowRect(window_, &frame);
    EXPECT_EQ(256, frame.right - frame.left);
    EXPECT_EQ(48, frame.bottom - frame.top);
    EXPECT_EQ((desktop.right - 256) / 2, frame.left);
    EXPECT_EQ((desktop.bottom - 48) / 2, frame.top);
    EXPECT_EQ(Title, CaptionOf(window_));
    const LONG style = GetWindowLongW(window_, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_POPUP | WS_CAPTION), style & (WS_POPUP | WS_CAPTION));
    EXPECT_EQ(0, style & WS_SYSMENU) << "the window must offer no close control";
    EXPECT_FALSE(IsWindowVisible(window_)) << "shown only by an interactive start";

    HWND bar = GetDlgItem(window_, 123);
    ASSERT_NE(nullptr, bar);
    wchar_t kind[64] = {};
    GetClassNameW(bar, kind, 64);
    EXPECT_STREQ(L"msctls_progress32", kind);
    EXPECT_EQ(L"Progress bar", CaptionOf(bar));
    EXPECT_EQ(PBS_MARQUEE, GetWindowLongW(bar, GWL_STYLE) & PBS_MARQUEE);
    EXPECT_EQ(window_, GetAncestor(bar, GA_PARENT));

    RECT client{};
    GetClientRect(window_, &client);
    RECT barRect{};
    GetWindowRect(bar, &barRect);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&barRect), 2);
    EXPECT_EQ(client.left, barRect.left);
    EXPECT_EQ(client.top, barRect.top);
    EXPECT_EQ(client.right, barRect.right);
    EXPECT_EQ(client.bottom, barRect.bottom);
}

TEST_F(ProgressWindow, CentringGoesNegativeOnADesktopSmallerThanTheWindow)
{
    const POINT small = app::CenteredWindowOrigin(200, 40);
    EXPECT_EQ(-28, small.x);
    EXPECT_EQ(-4, small.y);
    const POINT odd = app::CenteredWindowOrigin(1025, 769);
    EXPECT_EQ(384, odd.x);
    EXPECT_EQ(360, odd.y);
}

TEST_F(ProgressWindow, StatusSetsTheCaptionWithCounts)
{
    Show();
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(2, 5), 403);
    Pump(50);
    EXPECT_EQ(L"Downloading component (3 of 5)", CaptionOf(window_));
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(0, 1), 404);
    Pump(50);
    EXPECT_EQ(L"Installing component (1 of 1)", CaptionOf(window_));
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(254, 255), 405);
    Pump(50);
    EXPECT_EQ(L"Uninstalling component (255 of 255)", CaptionOf(window_));
}

TEST_F(ProgressWindow, StatusWithoutCountShowsTheTextUnchanged)
{
    Show();
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(3, 0), 403);
    Pump(50);
    EXPECT_EQ(L"Downloading component (%d of %d)", CaptionOf(window_));
    PostMessageW(window_, WM_ENGINE_STATUS, 0, 402);
    Pump(50);
    EXPECT_EQ(L"Checking for updates...", CaptionOf(window_));
}

TEST_F(ProgressWindow, StatusWithAMissingTextLeavesTheCaption)
{
    Show();
    PostMessageW(window_, WM_ENGINE_STATUS, 0, 407);
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(0, 2), 399);
    Pump(50);
    EXPECT_EQ(L"Completing...", CaptionOf(window_));
}

TEST_F(ProgressWindow, SilentRunIgnoresStatus)
{
    app::Shell().Interactive = false;
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(2, 5), 403);
    Pump(50);
    EXPECT_EQ(Title, CaptionOf(window_));
    EXPECT_FALSE(IsWindowVisible(window_));
}

TEST_F(ProgressWindow, FailureShowsTheModesTextAndExitsMinusOne)
{
    struct Row {
        int mode;
        UINT textId;
        const wchar_t* text;
    };
    const Row rows[] = {
        {ziz::INSTALL, 413, L"Software install failed"},   {ziz::UPDATE, 423, L"Software update failed"},
        {ziz::DOWNLOAD, 415, L"Software download failed"}, {ziz::CHECK, 416, L"Check for update failed"},
        {ziz::UNINSTALL, 414, L"Software uninstall failed"}, {ziz::APPLIANCE, 423, L"Software update failed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.mode);
        if (!IsWindow(window_)) window_ = app::CreateProgressWindow(app::Shell().Instance);
        Show();
        std::vector<testenv::SeenBox> boxes;
        EXPECT_EQ(-1, Finish(row.mode, 0, row.textId, {IDOK}, boxes));
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(Title, boxes[0].caption);
        // The mode's text stays first; the line under it says why (see FailureBox below).
        EXPECT_EQ(std::wstring(row.text) + L"\n", boxes[0].text.substr(0, wcslen(row.text) + 1));
        EXPECT_EQ(window_, boxes[0].owner);
        EXPECT_TRUE(boxes[0].topmost) << "system-modal boxes stay on top";
        EXPECT_EQ(LoadIconW(nullptr, IDI_WARNING), boxes[0].icon);
        EXPECT_FALSE(IsWindowVisible(window_));
        EXPECT_EQ(0, g_restarts);
        DestroyWindow(window_);
        Pump(10);
    }
}

TEST_F(ProgressWindow, BoxCaptionIsTheStartTitleNotTheCurrentCaption)
{
    Show();
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(0, 3), 404);
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(-1, Finish(ziz::INSTALL, 0, 413, {IDOK}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(Title, boxes[0].caption);
}

TEST_F(ProgressWindow, SilentFailureShowsNothing)
{
    app::Shell().Interactive = false;
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(-1, Finish(ziz::UNINSTALL, 0, 414, {}, boxes));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ProgressWindow, FailureWithAnUnknownTextShowsNothing)
{
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(-1, Finish(ziz::INVALID, 0, 0, {}, boxes));
    EXPECT_TRUE(boxes.empty());
}

// An outcome message (mode, outcome code, text id) and the exit code it must give.
struct OutcomeRow {
    int mode;
    int code;
    UINT textId;
    int exitCode;
};

TEST_F(ProgressWindow, SuccessesWithoutPromptsGiveTheirExitCodes)
{
    const OutcomeRow rows[] = {
        {ziz::INSTALL, 1, 408, 0},  {ziz::UPDATE, 1, 422, 0},   {ziz::DOWNLOAD, 1, 409, 0},
        {ziz::DOWNLOAD, 2, 411, 1}, {ziz::CHECK, 1, 410, 0},    {ziz::CHECK, 2, 411, 1},
        {ziz::APPLIANCE, 1, 422, 0}, {ziz::APPLIANCE, 2, 422, 1}, {7, 1, 408, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + "/" + std::to_string(row.code));
        if (!IsWindow(window_)) window_ = app::CreateProgressWindow(app::Shell().Instance);
        Show();
        std::vector<testenv::SeenBox> boxes;
        EXPECT_EQ(row.exitCode, Finish(row.mode, row.code, row.textId, {}, boxes));
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(0, g_restarts);
        EXPECT_FALSE(IsWindowVisible(window_));
        DestroyWindow(window_);
        Pump(10);
    }
}

TEST_F(ProgressWindow, InstallWithRestartFlagRestartsWithoutAQuestion)
{
    Show();
    std::vector<testenv::SeenBox> boxes;
    // The user agreed to the restart earlier (the removal of an older generation).
    EXPECT_EQ(1, Finish(ziz::INSTALL, ziz::OutcomeRestartAgreed, 408, {}, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(1, g_restarts);
}

TEST_F(ProgressWindow, InstallNeedingARestartAsksWhenInteractive)
{
    Show();
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::INSTALL, ziz::OutcomeRestart, 408, {IDNO}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(UpdateQuestion, boxes[0].text);
    EXPECT_EQ(0, g_restarts);
}

TEST_F(ProgressWindow, InstallWithRestartFlagDoesNotRestartUnelevated)
{
    osh::SetElevationQueryFunction(NotElevated);
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::INSTALL, ziz::OutcomeRestartAgreed, 408, {}, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(0, g_restarts);
}

TEST_F(ProgressWindow, UpdateRestartAnsweredNoEndsWithOneAndNoFurtherBox)
{
    Show();
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UPDATE, 2, 422, {IDNO}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(RestartCaption, boxes[0].caption);
    EXPECT_EQ(UpdateQuestion, boxes[0].text);
    EXPECT_EQ(window_, boxes[0].owner);
    EXPECT_EQ(0, g_restarts);
}

TEST_F(ProgressWindow, UpdateRestartAnsweredYesRestarts)
{
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UPDATE, 2, 422, {IDYES}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(UpdateQuestion, boxes[0].text);
    EXPECT_EQ(1, g_restarts);
}

TEST_F(ProgressWindow, SilentUpdateStillAsksForTheRestart)
{
    app::Shell().Interactive = false;
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UPDATE, 2, 422, {IDNO}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(UpdateQuestion, boxes[0].text);
}

TEST_F(ProgressWindow, UpdateRestartIsNotOfferedUnelevated)
{
    osh::SetElevationQueryFunction(NotElevated);
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UPDATE, 2, 422, {IDYES}, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(0, g_restarts);
}

TEST_F(ProgressWindow, UninstallRestartAnsweredNoShowsTheCompletionBox)
{
    Show();
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UNINSTALL, 2, 412, {IDNO, IDOK}, boxes));
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ(RestartCaption, boxes[0].caption);
    EXPECT_EQ(UninstallQuestion, boxes[0].text);
    EXPECT_EQ(nullptr, boxes[0].owner);
    EXPECT_EQ(Title, boxes[1].caption);
    EXPECT_EQ(L"Software uninstall complete", boxes[1].text);
    EXPECT_EQ(LoadIconW(nullptr, IDI_WARNING), boxes[1].icon);
    EXPECT_EQ(0, g_restarts);
}

TEST_F(ProgressWindow, UninstallWithoutRestartFlagStillAsks)
{
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(0, Finish(ziz::UNINSTALL, 1, 412, {IDYES}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(UninstallQuestion, boxes[0].text);
    EXPECT_EQ(1, g_restarts);
}

TEST_F(ProgressWindow, SilentUninstallAnsweredNoShowsNoCompletionBox)
{
    app::Shell().Interactive = false;
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UNINSTALL, 2, 412, {IDNO}, boxes));
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(UninstallQuestion, boxes[0].text);
}

TEST_F(ProgressWindow, UninstallUnelevatedShowsNothing)
{
    osh::SetElevationQueryFunction(NotElevated);
    std::vector<testenv::SeenBox> boxes;
    EXPECT_EQ(1, Finish(ziz::UNINSTALL, 2, 412, {}, boxes));
    EXPECT_TRUE(boxes.empty());
    DestroyWindow(window_);
    Pump(10);
    window_ = app::CreateProgressWindow(app::Shell().Instance);
    EXPECT_EQ(0, Finish(ziz::UNINSTALL, 1, 412, {}, boxes));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(0, g_restarts);
}

// "/norestart": deployment tools run without anyone at the screen.
TEST_F(ProgressWindow, UnattendedRunNeverAsksRestartsOrShowsABox)
{
    app::Shell().Unattended = true;
    const OutcomeRow rows[] = {
        {ziz::UPDATE, 2, 422, 1}, {ziz::UNINSTALL, 2, 412, 1}, {ziz::UNINSTALL, 1, 412, 0},
        {ziz::INSTALL, 3, 408, 1}, {ziz::INSTALL, 0, 413, -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + "/" + std::to_string(row.code));
        if (!IsWindow(window_)) window_ = app::CreateProgressWindow(app::Shell().Instance);
        std::vector<testenv::SeenBox> boxes;
        EXPECT_EQ(row.exitCode, Finish(row.mode, row.code, row.textId, {IDYES, IDOK}, boxes));
        EXPECT_TRUE(boxes.empty());
        DestroyWindow(window_);
        Pump(10);
    }
    EXPECT_EQ(0, g_restarts);
    app::Shell().Unattended = false;
}

class FailureBox : public ProgressWindow {
protected:
    void SetUp() override
    {
        app::ResetRunSummary();
        ProgressWindow::SetUp();
    }
    void TearDown() override
    {
        ProgressWindow::TearDown();
        app::ResetRunSummary();
    }
    std::wstring SecondLine()
    {
        std::vector<testenv::SeenBox> boxes;
        EXPECT_EQ(-1, Finish(ziz::INSTALL, 0, 413, {IDOK}, boxes));
        if (boxes.size() != 1u) return L"<" + std::to_wstring(boxes.size()) + L" boxes>";
        const std::wstring& text = boxes[0].text;
        EXPECT_EQ(0u, text.find(L"Software install failed\n"));
        return text.substr(text.find(L'\n') + 1);
    }
    const std::wstring logFile_ = app::SetupLogFile();
};

TEST_F(FailureBox, NamesTheReasonAStateGaveAndTheLogFile)
{
    ASSERT_NE(std::wstring::npos, logFile_.find(L"\\log\\setup.log")) << testenv::Narrow(logFile_);
    app::NoteLoggedError("URLDownloadToFile failed");
    app::EngineSummary summary;
    summary.ran = true;
    summary.report.SetFailureReason("Installer of base.msi ended with 1603");
    summary.report.SetFailureReason("a later consequence");
    app::PublishEngineSummary(summary);
    EXPECT_EQ(L"Installer of base.msi ended with 1603 (" + logFile_ + L")", SecondLine());
}

// A path in any script reaches the box as it is (the log's text is UTF-8).
TEST_F(FailureBox, ShowsNamesInAnyScriptIntact)
{
    const std::wstring folder = L"C:\\users\\\u0410\u043d\u043d\u0430\\\u039b\u03ae\u03c8\u03b5\u03b9\u03c2 \u4e0b\u8f7d";
    app::EngineSummary summary;
    summary.ran = true;
    summary.report.SetFailureReason(testenv::Narrow(L"Could not create directory path " + folder));
    app::PublishEngineSummary(summary);
    EXPECT_EQ(L"Could not create directory path " + folder + L" (" + logFile_ + L")", SecondLine());
}

TEST_F(FailureBox, FallsBackToTheFirstErrorLineThenToNoCause)
{
    app::NoteLoggedError("Unable to determine directory location for Setup files");
    app::NoteLoggedError("Software process complete, failure detected.");
    EXPECT_EQ(L"Unable to determine directory location for Setup files (" + logFile_ + L")", SecondLine());
    app::ResetRunSummary();
    // A window takes one outcome only: the second run gets a fresh one.
    DestroyWindow(window_);
    Pump(10);
    window_ = app::CreateProgressWindow(app::Shell().Instance);
    EXPECT_EQ(L"No cause was recorded (" + logFile_ + L")", SecondLine());
}

TEST_F(ProgressWindow, OnlyTheFirstOutcomeCounts)
{
    Show();
    testenv::MessageBoxWatcher watcher({IDOK, IDOK});
    // The uninstall failure path reports its failure twice.
    PostMessageW(window_, WM_ENGINE_DONE, Outcome(ziz::UNINSTALL, 0), 414);
    PostMessageW(window_, WM_ENGINE_DONE, Outcome(ziz::UNINSTALL, 0), 414);
    PostMessageW(window_, WM_ENGINE_DONE, Outcome(ziz::UNINSTALL, 1), 412);
    EXPECT_EQ(-1, RunUntilQuit());
    Sleep(300);
    const auto boxes = watcher.Stop();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].text.find(L"Software uninstall failed\n"));
}

TEST_F(ProgressWindow, DestroyingTheWindowQuitsWithZero)
{
    DestroyWindow(window_);
    EXPECT_EQ(0, RunUntilQuit());
}

// The picture is kept as an artifact of the build, and two captures a moment apart prove
// that the marquee moves.
using testenv::ScreenCapture;

// Under Wine without a window manager nobody draws window frames, unless Wine is told to
// draw them itself. That setting is read when a process starts, so the picture is taken by
// a second run of this test program with the setting made for this program only.
class FramesDrawnByWine {
public:
    FramesDrawnByWine() : program_(ProgramName())
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, DriverKey().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, L"Decorated", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"N"), 2 * sizeof(wchar_t));
            RegCloseKey(key);
        }
    }
    ~FramesDrawnByWine()
    {
        RegDeleteKeyW(HKEY_CURRENT_USER, DriverKey().c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + program_).c_str());
    }
    FramesDrawnByWine(const FramesDrawnByWine&) = delete;
    FramesDrawnByWine& operator=(const FramesDrawnByWine&) = delete;

    static std::wstring ProgramPath()
    {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        return path;
    }

private:
    static std::wstring ProgramName()
    {
        const std::wstring path = ProgramPath();
        return path.substr(path.find_last_of(L'\\') + 1);
    }
    std::wstring DriverKey() const { return L"Software\\Wine\\AppDefaults\\" + program_ + L"\\X11 Driver"; }

    std::wstring program_;
};

std::string ReadFileStart(const std::wstring& path, DWORD length)
{
    std::string bytes(length, '\0');
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    DWORD read = 0;
    ReadFile(file, bytes.data(), length, &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

TEST_F(ProgressWindow, ScreenshotShowsTheCaptionOverAMovingMarquee)
{
    const std::string directory = testenv::Variable("NORLO_BUILD_DIR") + "/artifacts";
    const std::wstring picture = testenv::WindowsPathOf(directory + "/progress-window.png");
    if (testenv::Variable("NORLO_PICTURE_RUN").empty()) {
        DeleteFileW(picture.c_str());
        FramesDrawnByWine frames;
        SetEnvironmentVariableW(L"NORLO_PICTURE_RUN", L"1");
        const auto run = testenv::Run(L"\"" + FramesDrawnByWine::ProgramPath() +
                                      L"\" --gtest_filter=ProgressWindow.ScreenshotShowsTheCaptionOverAMovingMarquee",
                                      120000);
        SetEnvironmentVariableW(L"NORLO_PICTURE_RUN", nullptr);
        EXPECT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n"), ReadFileStart(picture, 8));
        return;
    }
    Show();
    PostMessageW(window_, WM_ENGINE_STATUS, Counts(2, 5), 403);
    Pump(700);
    ASSERT_EQ(L"Downloading component (3 of 5)", CaptionOf(window_));

    RECT bar{};
    GetWindowRect(GetDlgItem(window_, 123), &bar);
    const ScreenCapture first(bar);
    Pump(400);
    const ScreenCapture second(bar);
    EXPECT_NE(first.Pixels(), second.Pixels()) << "the marquee does not move";

    RECT desktop{};
    GetClientRect(GetDesktopWindow(), &desktop);
    const ScreenCapture screen(desktop);
    RECT frame{};
    GetWindowRect(window_, &frame);
    // The caption bar differs from the empty desktop around the window.
    EXPECT_NE(screen.Pixel(frame.left + 128, frame.top + 5), screen.Pixel(frame.left + 128, frame.top - 5));

    CreateDirectoryW(testenv::WindowsPathOf(directory).c_str(), nullptr);
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    EXPECT_TRUE(screen.SavePng(picture));
    const ScreenCapture close(frame);
    EXPECT_TRUE(close.SavePng(testenv::WindowsPathOf(directory + "/progress-window-close.png")));
    CoUninitialize();
}

}  // namespace
