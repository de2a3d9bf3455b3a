// A stand-in for the product's own programs in the state tests. Every run appends a line
// to "<own path>.log", so a test sees which copy ran, with which arguments and in which
// order.
//   --window <title>  shows a top-level window and runs until it is closed; logs "ready"
//                     once the window exists and "WM_CLOSE" when asked to close.
//   --hung <title>    shows the window, logs "ready" and then never handles a message
//                     again: a program that hangs.
//   anything else     logs its arguments and ends with the number found in
//                     "<own path>.exitcode" (0 when there is none): an uninstaller or
//                     installer stand-in.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring OwnPath()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return buffer;
}

void AppendLine(const std::wstring& line)
{
    FILE* file = _wfopen((OwnPath() + L".log").c_str(), L"ab");
    if (file == nullptr) return;
    std::string narrow;
    for (wchar_t c : line) narrow += static_cast<char>(c & 0xFF);
    narrow += "\n";
    fwrite(narrow.data(), 1, narrow.size(), file);
    fclose(file);
}

// The command line without the program token.
std::wstring Arguments()
{
    const wchar_t* text = GetCommandLineW();
    bool quoted = false;
    for (; *text != L'\0'; ++text) {
        if (*text == L'"') quoted = !quoted;
        if (!quoted && (*text == L' ' || *text == L'\t')) break;
    }
    while (*text == L' ' || *text == L'\t') ++text;
    return text;
}

int ConfiguredExitCode()
{
    FILE* file = _wfopen((OwnPath() + L".exitcode").c_str(), L"rb");
    if (file == nullptr) return 0;
    int code = 0;
    if (fscanf(file, "%d", &code) != 1) code = 0;
    fclose(file);
    return code;
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        AppendLine(L"WM_CLOSE");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunWindow(const std::wstring& title, bool hung)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"NorloStandInWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"NorloStandInWindow", title.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 2;
    ShowWindow(window, SW_SHOWNORMAL);
    AppendLine(L"ready");
    if (hung) Sleep(INFINITE);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const std::wstring arguments = Arguments();
    const std::wstring windowSwitch = L"--window ";
    if (arguments.compare(0, windowSwitch.size(), windowSwitch) == 0)
        return RunWindow(arguments.substr(windowSwitch.size()), false);
    const std::wstring hungSwitch = L"--hung ";
    if (arguments.compare(0, hungSwitch.size(), hungSwitch) == 0)
        return RunWindow(arguments.substr(hungSwitch.size()), true);
    AppendLine(arguments);
    return ConfiguredExitCode();
}
