/* A program someone else left in a working directory or beside Setup.exe, named like a
   system program (reg.exe, cmd.exe, msiexec.exe). Running it is the fault: it leaves
   "<its own path>.ran" behind and ends with 0, as the real one would on success. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    (void)instance;
    (void)previous;
    (void)commandLine;
    (void)show;
    wchar_t path[MAX_PATH + 16];
    const DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        lstrcatW(path, L".ran");
        HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
    return 0;
}
