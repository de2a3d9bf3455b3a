// Writes lines through the setup log as fast as it takes them, across its rotations:
// prints "<lines> <milliseconds> <peak working set in KiB>".
#include "app/SetupLog.h"
#include "osh/Log.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    const long lines = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 200000;
    app::SetUpLog();
    osh::SetLogger(app::SharedLogger());
    const std::string text(80, 'x');
    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (long i = 0; i < lines; ++i) osh::LogInformation("bench line " + std::to_string(i) + " " + text);
    QueryPerformanceCounter(&end);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
    std::printf("%ld %.1f %lu\n", lines, 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
                static_cast<unsigned long>(memory.PeakWorkingSetSize / 1024));
    return 0;
}
