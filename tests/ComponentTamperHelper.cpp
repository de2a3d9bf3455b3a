// An installer stand-in for the held-component tests, started as an item's install command
// while the engine holds the component: it tries what anyone who can write the setup-files
// folder could try against the file the installer is about to read, then "installs" the
// file by copying it.
//   ComponentTamperHelper <component> <report> <installed copy>
// The report gets one line per attempt, "<attempt> <result>", where result is "succeeded"
// or the system's error number, and a last line "copy <result>".
//   ComponentTamperHelper --flip-on-close <component>
// A product program with a window: asked to close (as the engine asks the product's
// programs before it installs), it first changes the last byte of the component, after the
// engine's download step checked it and before its command runs. Appends "flipped <result>"
// to "<own path>.log".
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

FILE* g_report = nullptr;

void Report(const char* attempt, bool succeeded, DWORD error)
{
    if (succeeded) {
        fprintf(g_report, "%s succeeded\n", attempt);
    } else {
        fprintf(g_report, "%s %lu\n", attempt, static_cast<unsigned long>(error));
    }
    fflush(g_report);
}

void TryOverwrite(const std::wstring& component)
{
    HANDLE file = CreateFileW(component.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) {
        const char other[] = "planted";
        DWORD written = 0;
        WriteFile(file, other, sizeof other - 1, &written, nullptr);
        SetEndOfFile(file);
        CloseHandle(file);
    }
    Report("overwrite", file != INVALID_HANDLE_VALUE, error);
}

void TryRename(const std::wstring& component)
{
    const BOOL moved = MoveFileExW(component.c_str(), (component + L".moved").c_str(), 0);
    Report("rename", moved != FALSE, GetLastError());
}

void TryDelete(const std::wstring& component)
{
    const BOOL deleted = DeleteFileW(component.c_str());
    Report("delete", deleted != FALSE, GetLastError());
}

// Another file moved over the component's name.
void TryReplace(const std::wstring& component)
{
    const std::wstring other = component + L".planted";
    HANDLE file = CreateFileW(other.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    const BOOL moved = MoveFileExW(other.c_str(), component.c_str(), MOVEFILE_REPLACE_EXISTING);
    const DWORD error = GetLastError();
    DeleteFileW(other.c_str());
    Report("replace", moved != FALSE, error);
}

bool FlipLastByte(const std::wstring& component)
{
    HANDLE file = CreateFileW(component.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    unsigned char last = 0;
    DWORD done = 0;
    bool flipped = SetFilePointer(file, -1, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
                   ReadFile(file, &last, 1, &done, nullptr) && done == 1;
    last = static_cast<unsigned char>(~last);
    flipped = flipped && SetFilePointer(file, -1, nullptr, FILE_END) != INVALID_SET_FILE_POINTER &&
              WriteFile(file, &last, 1, &done, nullptr) && done == 1;
    CloseHandle(file);
    return flipped;
}

std::wstring g_flipTarget;

void AppendToOwnLog(const char* line)
{
    wchar_t own[MAX_PATH + 8] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    FILE* log = _wfopen((std::wstring(own) + L".log").c_str(), L"ab");
    if (log == nullptr) return;
    fprintf(log, "%s\n", line);
    fclose(log);
}

LRESULT CALLBACK FlipOnClose(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        AppendToOwnLog(FlipLastByte(g_flipTarget) ? "flipped succeeded" : "flipped failed");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

int RunFlipWindow(const std::wstring& component)
{
    g_flipTarget = component;
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = FlipOnClose;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"NorloFlipOnClose";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowW(L"NorloFlipOnClose", L"Norlo flip on close", WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                                nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window == nullptr) return 2;
    ShowWindow(window, SW_SHOWNORMAL);
    AppendToOwnLog("ready");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wstring(argv[1]) == L"--flip-on-close") return RunFlipWindow(argv[2]);
    if (argc != 4) return 2;
    const std::wstring component = argv[1];
    g_report = _wfopen(argv[2], L"wb");
    if (g_report == nullptr) return 3;
    TryOverwrite(component);
    TryRename(component);
    TryDelete(component);
    TryReplace(component);
    const BOOL copied = CopyFileW(component.c_str(), argv[3], FALSE);
    Report("copy", copied != FALSE, GetLastError());
    fclose(g_report);
    return 0;
}
