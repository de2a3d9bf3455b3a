/* A DLL someone else left beside the program or in its working directory, named like a
   system DLL. Loading it is the fault: DllMain leaves "<its own path>.loaded" behind. It
   exports the names the program (or a component's stand-in) takes from the DLLs it stands for (PlantedDll.def), so a
   loader that picks it up for a static import starts the program rather than failing. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 16];
        const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            lstrcatW(path, L".loaded");
            HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
            if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
        }
    }
    return TRUE;
}

/* Every export answers "failed"; the marker is what the tests look at. */
INT_PTR PlantedStub(void)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0;
}
