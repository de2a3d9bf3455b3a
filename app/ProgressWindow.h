#pragma once
// The small progress window of the main thread: a caption with the engine's status text
// over a marquee progress bar. Its procedure turns the engine's two messages into the
// caption, the final message box, the restart prompts and the process exit code.
#include <windows.h>

#include <string>

namespace app {

constexpr int ProgressWindowWidth = 256;
constexpr int ProgressWindowHeight = 48;
constexpr int ProgressBarId = 123;
// Refresh interval of the marquee animation.
constexpr UINT MarqueeIntervalMs = 50;

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Registers the window class named Shell().WindowClass; 0 when the system refused.
ATOM RegisterProgressWindowClass(HINSTANCE instance);

// Top-left corner that centres the window in a desktop client area of the given size.
// Integer division; negative when the desktop is smaller than the window.
POINT CenteredWindowOrigin(int desktopWidth, int desktopHeight);

// Creates the hidden pop-up window of the registered class, centred on the desktop.
HWND CreateProgressWindow(HINSTANCE instance);

// The line a failure box adds under its text: the reason and, in brackets, the log file.
std::wstring FailureLine(const std::string& reason, const std::wstring& logFile);

// The status text as the caption shows it: with a count b (high byte of `counts`) the
// text is a C format that receives a + 1 and b (a = low byte); with b = 0 it is unchanged.
std::wstring FormatStatusText(const std::wstring& text, WPARAM counts);

}  // namespace app
