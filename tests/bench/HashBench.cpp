// Times osh::CalculateFileHash on one file: prints "<milliseconds> <digest>".
#include "osh/FileHash.h"
#include "osh/Text.h"

#include <windows.h>

#include <cstdio>
#include <exception>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: HashBench FILE\n");
        return 2;
    }
    LARGE_INTEGER frequency{}, start{}, end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    try {
        const std::wstring digest = osh::CalculateFileHash(argv[1]);
        QueryPerformanceCounter(&end);
        std::printf("%.1f %s\n", 1000.0 * (end.QuadPart - start.QuadPart) / frequency.QuadPart,
                    osh::Narrow(digest).c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
