/* Imports WINTRUST.dll the ordinary way, at load time: the control case showing that a DLL
   planted beside a program is loaded when nothing prevents it. */
#include <windows.h>
#include <wintrust.h>

int main(void)
{
    GUID action;
    ZeroMemory(&action, sizeof(action));
    WINTRUST_DATA data;
    ZeroMemory(&data, sizeof(data));
    data.cbStruct = sizeof(data);
    return WinVerifyTrust(NULL, &action, &data) == 0 ? 0 : 1;
}
