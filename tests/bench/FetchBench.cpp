// The least a program can do to fetch a document: one URLDownloadToFileW call.
#include <windows.h>
#include <urlmon.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) return 2;
    return SUCCEEDED(URLDownloadToFileW(nullptr, argv[1], argv[2], 0, nullptr)) ? 0 : 1;
}
