/* Runs a program as a person would (no switches of its own), and watches it from the
 * Windows side for scripts/run.sh: it follows every process the program starts (a
 * hand-over to a newer bootstrapper, elevation restarts, component installers), reports
 * each one's start and exit code, and answers the message boxes of those processes so
 * an unattended run never hangs on a question.
 *
 * Usage: RunWatcher.exe <seconds> <program> [arguments...]
 * Exit code: that of the last program of the hand-over chain: a process that outlived
 * its parent took the run over from it, while one that ended no later than its parent
 * was a helper its parent waited for (a component installer). Programs of the Windows
 * directory (the hook's cmd.exe, msiexec.exe) are always helpers. 98 when the time ran out
 * (everything still running is then ended), 97 when the program could not be started.
 *
 * Boxes: a Yes/No question is answered No (a restart would end every process of the
 * prefix), any other box with its default button. Each box stays up for a moment first
 * so the screenshots of the run show it. */
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <wchar.h>

#define MAX_WATCHED 64
#define BOX_SHOW_MS 2500
#define POLL_MS 200

typedef struct {
    DWORD id;
    DWORD parentId;
    HANDLE process; /* NULL once the process ended and was reported */
    DWORD exitCode;
    unsigned endPoll; /* the poll that saw it ended; 0 while it runs */
    int systemProgram; /* its image lies in the Windows directory */
    WCHAR image[MAX_PATH];
} Watched;

static Watched watched[MAX_WATCHED];
static int watchedCount = 0;
static unsigned pollNumber = 1;

static void PrintWide(const char* prefix, const WCHAR* text)
{
    char narrow[2048];
    int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, (int)sizeof(narrow), NULL, NULL);
    if (length <= 0) narrow[0] = '\0';
    printf("%s%s", prefix, narrow);
    fflush(stdout);
}

static Watched* FindWatched(DWORD id)
{
    for (int i = 0; i < watchedCount; ++i)
        if (watched[i].id == id) return &watched[i];
    return NULL;
}

static int IsWatched(DWORD id) { return FindWatched(id) != NULL; }

static int AnyRunning(void)
{
    for (int i = 0; i < watchedCount; ++i)
        if (watched[i].process) return 1;
    return 0;
}

/* A process caught while it is being created has no name in the snapshot yet; it is
 * asked again until it has one. */
static void FillImage(Watched* entry)
{
    DWORD size = MAX_PATH;
    if (entry->image[0] == L'\0' && entry->process && !QueryFullProcessImageNameW(entry->process, 0, entry->image, &size))
        entry->image[0] = L'\0';
}

static int IsSystemProgram(HANDLE process)
{
    WCHAR windows[MAX_PATH];
    WCHAR image[MAX_PATH];
    DWORD size = MAX_PATH;
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !QueryFullProcessImageNameW(process, 0, image, &size)) return 0;
    return size > length && image[length] == L'\\' &&
           CompareStringOrdinal(image, (int)length, windows, (int)length, TRUE) == CSTR_EQUAL;
}

static void Track(DWORD id, DWORD parentId, HANDLE process, const WCHAR* image)
{
    if (watchedCount == MAX_WATCHED) {
        CloseHandle(process);
        return;
    }
    Watched* entry = &watched[watchedCount++];
    entry->id = id;
    entry->parentId = parentId;
    entry->process = process;
    entry->exitCode = 0;
    entry->endPoll = 0;
    entry->systemProgram = IsSystemProgram(process);
    lstrcpynW(entry->image, image, MAX_PATH);
    FillImage(entry);
    printf("[watch] started pid %lu: ", (unsigned long)id);
    PrintWide("", image);
    printf("\n");
    fflush(stdout);
}

/* Wine's own helpers a program may start on the way (the desktop window's process, the
 * console host) live on after it and are not part of the run. */
static int IsSystemHelper(const WCHAR* image)
{
    return lstrcmpiW(image, L"explorer.exe") == 0 || lstrcmpiW(image, L"conhost.exe") == 0;
}

/* Children of watched processes become watched too, so a hand-over is followed. */
static void AdoptChildren(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (IsWatched(entry.th32ProcessID) || !IsWatched(entry.th32ParentProcessID) || IsSystemHelper(entry.szExeFile))
            continue;
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE, FALSE,
                                     entry.th32ProcessID);
        if (process) Track(entry.th32ProcessID, entry.th32ParentProcessID, process, entry.szExeFile);
    }
    CloseHandle(snapshot);
}

static void ReportEnded(void)
{
    for (int i = 0; i < watchedCount; ++i) {
        Watched* entry = &watched[i];
        if (!entry->process || WaitForSingleObject(entry->process, 0) != WAIT_OBJECT_0) continue;
        FillImage(entry);
        if (!entry->systemProgram) entry->systemProgram = IsSystemProgram(entry->process);
        GetExitCodeProcess(entry->process, &entry->exitCode);
        CloseHandle(entry->process);
        entry->process = NULL;
        entry->endPoll = pollNumber;
        printf("[watch] pid %lu ended with exit code %ld: ", (unsigned long)entry->id, (long)entry->exitCode);
        PrintWide("", entry->image[0] ? entry->image : L"(name unknown)");
        printf("\n");
        fflush(stdout);
    }
    ++pollNumber;
}

/* The exit code of the last process of the hand-over chain (see the top of the file). */
static DWORD ChainExitCode(void)
{
    const Watched* last = &watched[0];
    for (int i = 1; i < watchedCount; ++i) {
        const Watched* parent = FindWatched(watched[i].parentId);
        const int tookOver = parent && !watched[i].systemProgram && watched[i].endPoll > parent->endPoll;
        if (tookOver && watched[i].endPoll >= last->endPoll) last = &watched[i];
    }
    return last->exitCode;
}

/* The box's message is its static control (id 0xFFFF). */
static BOOL CALLBACK PrintBoxText(HWND child, LPARAM unused)
{
    (void)unused;
    WCHAR text[1024];
    if (GetDlgCtrlID(child) == 0xFFFF && GetWindowTextW(child, text, 1024) > 0) {
        PrintWide("[watch]   text: ", text);
        printf("\n");
    }
    return TRUE;
}

static void Answer(HWND box)
{
    WCHAR caption[256] = L"";
    GetWindowTextW(box, caption, 256);
    PrintWide("[watch] message box: ", caption);
    printf("\n");
    EnumChildWindows(box, PrintBoxText, 0);
    Sleep(BOX_SHOW_MS);
    int answer = GetDlgItem(box, IDNO) ? IDNO : (GetDlgItem(box, IDOK) ? IDOK : IDCANCEL);
    printf("[watch]   answered %s\n", answer == IDNO ? "No" : (answer == IDOK ? "OK" : "Cancel"));
    fflush(stdout);
    HWND button = GetDlgItem(box, answer);
    if (button)
        SendMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
}

static BOOL CALLBACK AnswerIfWatchedBox(HWND window, LPARAM unused)
{
    (void)unused;
    WCHAR className[32];
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (!IsWatched(owner) || !IsWindowVisible(window)) return TRUE;
    if (GetClassNameW(window, className, 32) && lstrcmpW(className, L"#32770") == 0) Answer(window);
    return TRUE;
}

static void EndAll(void)
{
    for (int i = 0; i < watchedCount; ++i) {
        if (!watched[i].process) continue;
        TerminateProcess(watched[i].process, 98);
        WaitForSingleObject(watched[i].process, 5000);
        CloseHandle(watched[i].process);
        watched[i].process = NULL;
    }
}

/* The program and its arguments, each quoted, as one command line. */
static void BuildCommandLine(WCHAR* out, size_t size, int argc, WCHAR** argv)
{
    out[0] = L'\0';
    for (int i = 2; i < argc; ++i) {
        if (wcslen(out) + wcslen(argv[i]) + 4 >= size) break;
        if (i > 2) wcscat(out, L" ");
        if (i == 2 || wcschr(argv[i], L' ')) {
            wcscat(out, L"\"");
            wcscat(out, argv[i]);
            wcscat(out, L"\"");
        } else {
            wcscat(out, argv[i]);
        }
    }
}

int wmain(int argc, WCHAR** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: RunWatcher <seconds> <program> [arguments...]\n");
        return 97;
    }
    const DWORD limitMs = (DWORD)_wtoi(argv[1]) * 1000;
    static WCHAR commandLine[8192];
    BuildCommandLine(commandLine, sizeof(commandLine) / sizeof(commandLine[0]), argc, argv);

    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info;
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info)) {
        printf("[watch] could not start the program, error %lu\n", (unsigned long)GetLastError());
        return 97;
    }
    CloseHandle(info.hThread);
    Track(info.dwProcessId, 0, info.hProcess, argv[2]);

    const ULONGLONG start = GetTickCount64();
    for (;;) {
        AdoptChildren();
        ReportEnded();
        /* A process that started a successor just before it ended is looked at once more:
         * the successor still names it as parent. */
        if (!AnyRunning()) AdoptChildren();
        if (!AnyRunning()) break;
        if (GetTickCount64() - start > limitMs) {
            printf("[watch] time-out after %lu seconds: ending what still runs\n", (unsigned long)(limitMs / 1000));
            EndAll();
            return 98;
        }
        EnumWindows(AnswerIfWatchedBox, 0);
        Sleep(POLL_MS);
    }
    return (int)ChainExitCode();
}
