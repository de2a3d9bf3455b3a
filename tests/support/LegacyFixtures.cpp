#include "support/LegacyFixtures.h"

#include <gtest/gtest.h>

namespace legacytest {

extern const wchar_t kRunOnce[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
extern const wchar_t kRunOnceValue[] = L"Install Norlo 5";
extern const wchar_t kInnoKey[] = L"SOFTWARE\\Norlo\\OrganizationDefaults";
extern const wchar_t kBetaKey[] = L"SOFTWARE\\Norlo\\Norlo 5.0\\OrganizationDefaults";

void WriteString(REGSAM view, const wchar_t* path, const wchar_t* name, const std::wstring& value)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

bool ReadString(REGSAM view, const wchar_t* path, const wchar_t* name, std::wstring& out)
{
    out.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
    wchar_t buffer[2048] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    const LONG status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    out = buffer;
    return status == ERROR_SUCCESS;
}

void DeleteValue(REGSAM view, const wchar_t* path, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS) return;
    RegDeleteValueW(key, name);
    RegCloseKey(key);
}

std::wstring RunOnceCommand()
{
    std::wstring command;
    if (!ReadString(0, kRunOnce, kRunOnceValue, command)) return L"<missing>";
    return command;
}

std::wstring RestartCopy()
{
    const std::wstring command = RunOnceCommand();
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring folder = std::wstring(windows) + L"\\Temp\\Norlo-Restart-";
    const std::wstring::size_type end = command.find(L'"', 1);
    const std::wstring program = command.size() > 1 && command[0] == L'"' && end != std::wstring::npos
                                     ? command.substr(1, end - 1)
                                     : std::wstring();
    const std::wstring name = L"\\Setup.exe";
    const bool placed = program.compare(0, folder.size(), folder) == 0 && program.size() > folder.size() + name.size() &&
                        program.compare(program.size() - name.size(), name.size(), name) == 0 &&
                        program.find(L'\\', folder.size()) == program.size() - name.size();
    return placed ? program : L"<no restart copy in: " + command + L">";
}

std::wstring RemovalQuestion(const std::wstring& oldProduct)
{
    return L"Before installing Norlo 5, you must first uninstall " + oldProduct +
           L". Your backup data will be kept safe and transferred to Norlo 5.\n\nWould you like to uninstall " +
           oldProduct + L" now?";
}

extern const wchar_t kRestartQuestion[] =
    L"Installation of Norlo 5 will continue after you restart your computer.\n\nClick 'OK' to restart your "
    L"computer now. If you click 'Cancel', Norlo 5 will not be installed.";

}  // namespace legacytest
