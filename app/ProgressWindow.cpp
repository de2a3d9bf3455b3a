#include "app/ProgressWindow.h"

#include "app/OutcomePolicy.h"
#include "app/RunSummary.h"
#include "app/SetupLog.h"
#include "app/ShellValues.h"
#include "engine/EngineMessages.h"
#include "engine/InstallMode.h"
#include "osh/Elevation.h"
#include "osh/Text.h"

#include <commctrl.h>

#include <cwchar>

namespace app {

namespace {

// Formatted captions get room for the two numbers on top of the text buffer.
constexpr size_t FormattedTextLength = StringBufferLength + 10;

enum OutcomeText : UINT {
    RestartRequiredCaption = 417,
    UninstallRestartText = 418,
    UninstallRestartQuestion = 419,
    UpdateRestartText = 420,
    UpdateRestartQuestion = 421
};

bool IsElevated()
{
    return osh::QueryElevation() == 0;
}

std::wstring RestartQuestion(UINT text, UINT question)
{
    return LoadText(text) + L"\n\n" + LoadText(question);
}

LRESULT OnCreate(HWND window)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
    CreateWindowExW(0, PROGRESS_CLASSW, L"Progress bar", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(ProgressBarId)), Shell().Instance, nullptr);
    return 0;
}

LRESULT OnSize(HWND window)
{
    RECT clientArea{};
    GetClientRect(window, &clientArea);
    HWND bar = GetDlgItem(window, ProgressBarId);
    if (bar == nullptr) return 0;
    MoveWindow(bar, clientArea.left, clientArea.top, clientArea.right, clientArea.bottom, TRUE);
    SetWindowLongW(bar, GWL_STYLE, PBS_MARQUEE);
    SendMessageW(bar, PBM_SETMARQUEE, TRUE, MarqueeIntervalMs);
    ShowWindow(bar, SW_SHOWNORMAL);
    return 0;
}

LRESULT OnPaint(HWND window)
{
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    EndPaint(window, &paint);
    return 0;
}

void OnEngineStatus(HWND window, WPARAM counts, LPARAM textId)
{
    if (!Shell().Interactive) return;
    const std::wstring text = LoadText(static_cast<UINT>(textId));
    if (text.empty()) return;
    SetWindowTextW(window, FormatStatusText(text, counts).c_str());
    SetForegroundWindow(window);  // may be refused; the caption is what matters
}

// Carries out the restart part of the decision; false when a question was answered No
// (or the restart could not be started).
bool CarryOutRestart(HWND window, RestartPrompt prompt)
{
    switch (prompt) {
    case RestartPrompt::Unasked:
        return osh::RebootSystem(L"", L"", window);
    case RestartPrompt::AskUpdate:
        return osh::RebootSystem(RestartQuestion(UpdateRestartText, UpdateRestartQuestion),
                                 LoadText(RestartRequiredCaption), window);
    case RestartPrompt::AskUninstall:
        // Asked without an owner: the window is already hidden.
        return osh::RebootSystem(RestartQuestion(UninstallRestartText, UninstallRestartQuestion),
                                 LoadText(RestartRequiredCaption), nullptr);
    case RestartPrompt::None:
        break;
    }
    return true;
}

// The engine ends right after its final notification; its report says more than the log's
// first error line, so the box waits a moment for it.
constexpr DWORD ReportWaitMs = 10000;

std::wstring FailureText(UINT textId)
{
    const std::wstring text = LoadText(textId);
    if (text.empty()) return text;
    if (Shell().WorkerThread != nullptr) WaitForSingleObject(Shell().WorkerThread, ReportWaitMs);
    return text + L"\n" + FailureLine(FailureReasonOf(ReadEngineSummary(), FirstLoggedError()), SetupLogFile());
}

// Only the first outcome of a run counts: the engine may report a failure twice, and a
// second message arriving while the first box is open must not stack a second box or
// change the exit code already chosen.
bool TakeFirstOutcome(HWND window)
{
    if (GetWindowLongPtrW(window, GWLP_USERDATA) != 0) return false;
    SetWindowLongPtrW(window, GWLP_USERDATA, 1);
    return true;
}

void Remember(int mode, int outcome, int exitCode, bool handedOver)
{
    HandledOutcome& record = Shell().Outcome;
    record.handled = true;
    record.handedOver = handedOver;
    record.mode = mode;
    record.outcome = outcome;
    record.exitCode = exitCode;
}

void OnEngineDone(HWND window, WPARAM outcomeAndMode, LPARAM textId)
{
    if (!TakeFirstOutcome(window)) return;
    OutcomeFacts facts;
    facts.mode = LOBYTE(outcomeAndMode);
    facts.outcome = HIBYTE(outcomeAndMode);
    facts.interactive = Shell().Interactive;
    facts.unattended = Shell().Unattended;
    facts.elevated = IsElevated();
    const OutcomeDecision decision = DecideOutcome(facts);
    Remember(facts.mode, facts.outcome, decision.exitCode, false);
    ShowWindow(window, SW_HIDE);
    std::wstring finalText;
    if (decision.box == FinalBox::Always) finalText = FailureText(static_cast<UINT>(textId));
    const bool restarted = CarryOutRestart(window, decision.prompt);
    if (decision.box == FinalBox::WhenRestartDeclined && !restarted) finalText = LoadText(static_cast<UINT>(textId));
    if (!finalText.empty()) MessageBoxW(window, finalText.c_str(), Shell().WindowTitle, MB_SYSTEMMODAL | MB_ICONWARNING);
    PostQuitMessage(decision.exitCode);
}

void OnEngineExit(HWND window, WPARAM exitCode, LPARAM mode)
{
    if (!TakeFirstOutcome(window)) return;
    const int code = static_cast<int>(static_cast<DWORD>(exitCode));
    Remember(static_cast<int>(mode), code < 0 ? ziz::OutcomeFailed : ziz::OutcomeSucceeded, code, true);
    ShowWindow(window, SW_HIDE);
    PostQuitMessage(code);
}

}  // namespace

std::wstring FailureLine(const std::string& reason, const std::wstring& logFile)
{
    std::wstring line = osh::Widen(reason);
    if (!logFile.empty()) line += L" (" + logFile + L")";
    return line;
}

std::wstring FormatStatusText(const std::wstring& text, WPARAM counts)
{
    const int current = LOBYTE(counts);
    const int count = HIBYTE(counts);
    if (count == 0) return text;
    wchar_t formatted[FormattedTextLength];
    if (std::swprintf(formatted, FormattedTextLength, text.c_str(), current + 1, count) < 0) return text;
    return formatted;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_SIZE:
        return OnSize(window);
    case WM_PAINT:
        return OnPaint(window);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_ENGINE_STATUS:
        OnEngineStatus(window, wParam, lParam);
        return 0;
    case WM_ENGINE_DONE:
        OnEngineDone(window, wParam, lParam);
        return 0;
    case WM_ENGINE_HIDE:
        ShowWindow(window, SW_HIDE);
        return 0;
    case WM_ENGINE_EXIT:
        OnEngineExit(window, wParam, lParam);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

ATOM RegisterProgressWindowClass(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = ProgressWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = Shell().WindowClass;
    return RegisterClassExW(&windowClass);
}

POINT CenteredWindowOrigin(int desktopWidth, int desktopHeight)
{
    return POINT{(desktopWidth - ProgressWindowWidth) / 2, (desktopHeight - ProgressWindowHeight) / 2};
}

HWND CreateProgressWindow(HINSTANCE instance)
{
    RECT desktop{};
    GetClientRect(GetDesktopWindow(), &desktop);
    const POINT origin = CenteredWindowOrigin(desktop.right - desktop.left, desktop.bottom - desktop.top);
    return CreateWindowExW(0, Shell().WindowClass, Shell().WindowTitle, WS_POPUP | WS_CAPTION, origin.x, origin.y,
                           ProgressWindowWidth, ProgressWindowHeight, nullptr, nullptr, instance, nullptr);
}

}  // namespace app
