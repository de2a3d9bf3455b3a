// Starts a program and prints the milliseconds from its start until it shows a visible
// top-level window; then waits for it to end (ending it after 120 s).
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

struct Search {
    DWORD processId;
    bool found;
};

BOOL CALLBACK Visit(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window)) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    std::wstring command;
    for (int i = 1; i < argc; ++i) command += (i > 1 ? L" \"" : L"\"") + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency{}, start{}, now{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "cannot start (%lu)\n", GetLastError());
        return 1;
    }
    Search search{process.dwProcessId, false};
    double shownAfter = -1;
    while (WaitForSingleObject(process.hProcess, 2) == WAIT_TIMEOUT) {
        EnumWindows(Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            QueryPerformanceCounter(&now);
            shownAfter = 1000.0 * (now.QuadPart - start.QuadPart) / frequency.QuadPart;
            break;
        }
    }
    if (WaitForSingleObject(process.hProcess, 120000) == WAIT_TIMEOUT) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (shownAfter < 0) {
        std::fprintf(stderr, "no window was shown\n");
        return 1;
    }
    std::printf("%.1f\n", shownAfter);
    return 0;
}
