#include "app/ShellValues.h"

namespace app {

ShellValues& Shell()
{
    static ShellValues values;
    return values;
}

static HINSTANCE TextModule()
{
    return Shell().Instance ? Shell().Instance : GetModuleHandleW(nullptr);
}

void LoadTextInto(UINT id, wchar_t (&buffer)[StringBufferLength])
{
    buffer[0] = L'\0';
    if (LoadStringW(TextModule(), id, buffer, StringBufferLength) <= 0) buffer[0] = L'\0';
}

std::wstring LoadText(UINT id)
{
    wchar_t buffer[StringBufferLength];
    LoadTextInto(id, buffer);
    return buffer;
}

}  // namespace app
