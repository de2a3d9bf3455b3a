#include "app/ProgressWindow.h"

#include "app/ShellValues.h"
#include "engine/EngineMessages.h"
#include "engine/InstallMode.h"
#include "osh/Elevation.h"

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

// The text of the final box, after any restart handling of the mode.
std::wstring FinishSuccess(HWND window, int mode, int outcome, UINT textId)
{
    switch (mode) {
    case ziz::INSTALL:
        // The user agreed to the restart before the engine set the flag: no second question.
        if (outcome == ziz::OutcomeRestartAgreed && IsElevated()) osh::RebootSystem(L"", L"", window);
        // A component asked for a restart: never without asking, and a silent run does not restart.
        if (outcome == ziz::OutcomeRestart && Shell().Interactive && IsElevated()) {
            osh::RebootSystem(RestartQuestion(UpdateRestartText, UpdateRestartQuestion),
                              LoadText(RestartRequiredCaption), window);
        }
        return L"";
    case ziz::UPDATE:
        if (outcome != ziz::OutcomeSucceeded && IsElevated()) {
            osh::RebootSystem(RestartQuestion(UpdateRestartText, UpdateRestartQuestion),
                              LoadText(RestartRequiredCaption), window);
        }
        return L"";
    case ziz::UNINSTALL:
        if (IsElevated() && !osh::RebootSystem(RestartQuestion(UninstallRestartText, UninstallRestartQuestion),
                                               LoadText(RestartRequiredCaption), nullptr)) {
            return LoadText(textId);
        }
        return L"";
    default:
        return L"";
    }
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

// -1 failure, 0 success, 1 success with a restart request (or up to date).
int ExitCodeOf(int outcome)
{
    if (outcome == ziz::OutcomeSucceeded) return 0;
    if (outcome == ziz::OutcomeRestart || outcome == ziz::OutcomeRestartAgreed) return 1;
    return -1;
}

void OnEngineDone(HWND window, WPARAM outcomeAndMode, LPARAM textId)
{
    if (!TakeFirstOutcome(window)) return;
    const int mode = LOBYTE(outcomeAndMode);
    const int outcome = HIBYTE(outcomeAndMode);
    ShowWindow(window, SW_HIDE);
    std::wstring finalText;
    if (outcome == ziz::OutcomeFailed || outcome > ziz::OutcomeRestartAgreed) {
        finalText = LoadText(static_cast<UINT>(textId));
    } else {
        finalText = FinishSuccess(window, mode, outcome, static_cast<UINT>(textId));
    }
    if (Shell().Interactive && !finalText.empty()) {
        MessageBoxW(window, finalText.c_str(), Shell().WindowTitle, MB_SYSTEMMODAL | MB_ICONWARNING);
    }
    PostQuitMessage(ExitCodeOf(outcome));
}

void OnEngineExit(HWND window, WPARAM exitCode)
{
    if (!TakeFirstOutcome(window)) return;
    ShowWindow(window, SW_HIDE);
    PostQuitMessage(static_cast<int>(static_cast<DWORD>(exitCode)));
}

}  // namespace

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
        OnEngineExit(window, wParam);
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
