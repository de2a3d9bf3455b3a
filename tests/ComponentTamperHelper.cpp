// An installer stand-in for the held-component tests, started as an item's install command
// while the engine holds the component: it tries what anyone who can write the setup-files
// folder could try against the file the installer is about to read, then "installs" the
// file by copying it.
//   ComponentTamperHelper <component> <report> <installed copy>
// The report gets one line per attempt, "<attempt> <result>", where result is "succeeded"
// or the system's error number, and a last line "copy <result>".
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

}  // namespace

int wmain(int argc, wchar_t** argv)
{
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
