#include "osh/SystemPrograms.h"

#include "osh/Exception.h"
#include "osh/Text.h"

#include <windows.h>

namespace osh {
namespace {

// Programs that command templates and registered uninstall commands name bare.
const wchar_t* const kSystemPrograms[] = {L"msiexec", L"msiexec.exe", L"cmd", L"cmd.exe"};

bool IsSystemProgramName(const std::wstring& name)
{
    for (const wchar_t* program : kSystemPrograms) {
        if (EqualsIgnoreAsciiCase(name, program)) return true;
    }
    return false;
}

std::wstring WithExe(const std::wstring& name)
{
    const bool hasExtension = name.size() > 4 && EqualsIgnoreAsciiCase(name.substr(name.size() - 4), L".exe");
    return hasExtension ? name : name + L".exe";
}

}  // namespace

std::wstring SystemFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        const DWORD error = length == 0 ? GetLastError() : static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER);
        throw win::exception(error, "GetSystemDirectory()");
    }
    return std::wstring(folder, length);
}

std::wstring SystemProgramPath(const std::wstring& name) { return SystemFolder() + L"\\" + name; }

std::wstring CommandProcessorLine(const std::wstring& commandLine)
{
    // With /s the command processor drops exactly the outer pair of quotes and keeps the
    // quotes inside as they are.
    return L"\"" + SystemProgramPath(L"cmd.exe") + L"\" /d /s /c \"" + commandLine + L"\"";
}

std::wstring WithSystemProgramPath(const std::wstring& commandLine, const std::wstring& systemFolder)
{
    const size_t start = commandLine.find_first_not_of(L" \t");
    if (start == std::wstring::npos) return commandLine;
    size_t nameStart = start;
    size_t nameEnd;
    size_t rest;
    if (commandLine[start] == L'"') {
        nameStart = start + 1;
        nameEnd = commandLine.find(L'"', nameStart);
        if (nameEnd == std::wstring::npos) return commandLine;
        rest = nameEnd + 1;
    } else {
        nameEnd = commandLine.find_first_of(L" \t", start);
        if (nameEnd == std::wstring::npos) nameEnd = commandLine.size();
        rest = nameEnd;
    }
    const std::wstring name = commandLine.substr(nameStart, nameEnd - nameStart);
    if (!IsSystemProgramName(name)) return commandLine;
    return L"\"" + systemFolder + L"\\" + WithExe(name) + L"\"" + commandLine.substr(rest);
}

}  // namespace osh
