/* Stand-in for a component program of the sample release (runtime redistributable,
 * appliance program). It records how it was started in "<own path>.ran" (one block per
 * run: the command line and the working directory) so tests can see that and how it
 * ran, and succeeds only when the switch its real counterpart needs is given. A test
 * makes a copy end with another exit code (a failing or restart-requesting installer) by
 * writing the number into "<own path>.exitcode". When the environment names a folder in
 * NORLO_STANDIN_FOLDER, both files are "<that folder>\<own file name>.ran" and ".exitcode"
 * instead: an elevated run starts a copy of the component from a folder of its own, which
 * is gone when the run ends. */
#include <windows.h>
#include <shellapi.h>

#ifndef STANDIN_SWITCH
#error "STANDIN_SWITCH names the switch the stand-in requires"
#endif

enum { EXIT_RAN = 0, EXIT_WITHOUT_SWITCH = 2, EXIT_NOT_RECORDED = 3 };

static BOOL AppendUtf8(HANDLE file, const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    if (size <= 1) return TRUE;
    char* buffer = (char*)HeapAlloc(GetProcessHeap(), 0, (SIZE_T)size);
    if (!buffer) return FALSE;
    WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, size, NULL, NULL);
    DWORD written = 0;
    BOOL ok = WriteFile(file, buffer, (DWORD)(size - 1), &written, NULL) && written == (DWORD)(size - 1);
    HeapFree(GetProcessHeap(), 0, buffer);
    return ok;
}

/* "<own path><suffix>", or "<NORLO_STANDIN_FOLDER>\<own file name><suffix>". */
static BOOL StatePath(wchar_t* path, DWORD size, const wchar_t* suffix)
{
    wchar_t own[MAX_PATH];
    DWORD length = GetModuleFileNameW(NULL, own, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return FALSE;
    wchar_t folder[MAX_PATH];
    DWORD folderLength = GetEnvironmentVariableW(L"NORLO_STANDIN_FOLDER", folder, MAX_PATH);
    if (folderLength == 0 || folderLength >= MAX_PATH) {
        if (length + lstrlenW(suffix) >= size) return FALSE;
        lstrcpyW(path, own);
    } else {
        const wchar_t* name = own;
        for (const wchar_t* c = own; *c; ++c) {
            if (*c == L'\\') name = c + 1;
        }
        if ((DWORD)(folderLength + 1 + lstrlenW(name) + lstrlenW(suffix)) >= size) return FALSE;
        lstrcpyW(path, folder);
        lstrcatW(path, L"\\");
        lstrcatW(path, name);
    }
    lstrcatW(path, suffix);
    return TRUE;
}

static BOOL RecordRun(void)
{
    wchar_t path[2 * MAX_PATH];
    if (!StatePath(path, 2 * MAX_PATH, L".ran")) return FALSE;
    wchar_t directory[MAX_PATH];
    DWORD directoryLength = GetCurrentDirectoryW(MAX_PATH, directory);
    if (directoryLength == 0 || directoryLength >= MAX_PATH) return FALSE;

    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    BOOL ok = AppendUtf8(file, L"command line: ") && AppendUtf8(file, GetCommandLineW()) &&
              AppendUtf8(file, L"\r\ndirectory: ") && AppendUtf8(file, directory) &&
              AppendUtf8(file, L"\r\n");
    CloseHandle(file);
    return ok;
}

/* The number in "<own path>.exitcode", or -1 when there is none. */
static int ConfiguredExitCode(void)
{
    wchar_t path[2 * MAX_PATH];
    if (!StatePath(path, 2 * MAX_PATH, L".exitcode")) return -1;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return -1;
    char text[16] = {0};
    DWORD read = 0;
    BOOL ok = ReadFile(file, text, sizeof(text) - 1, &read, NULL);
    CloseHandle(file);
    if (!ok || read == 0) return -1;
    int code = 0;
    for (DWORD i = 0; i < read && text[i] >= '0' && text[i] <= '9'; ++i) code = code * 10 + (text[i] - '0');
    return code;
}

static BOOL HasSwitch(void)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return FALSE;
    BOOL found = FALSE;
    for (int i = 1; i < count && !found; ++i) {
        found = lstrcmpiW(arguments[i], STANDIN_SWITCH) == 0;
    }
    LocalFree(arguments);
    return found;
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    if (!RecordRun()) return EXIT_NOT_RECORDED;
    int configured = ConfiguredExitCode();
    if (configured >= 0) return configured;
    return HasSwitch() ? EXIT_RAN : EXIT_WITHOUT_SWITCH;
}
