#include "engine/HookScript.h"

#include "engine/ElevatedWorkFolder.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Process.h"
#include "osh/SystemPrograms.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <string>

namespace ziz {

namespace {

bool IsZero(const FILETIME& time) { return time.dwLowDateTime == 0 && time.dwHighDateTime == 0; }

// The time that tells when the file was last used: write, else access, else creation.
const FILETIME& LastUse(const WIN32_FILE_ATTRIBUTE_DATA& data)
{
    if (!IsZero(data.ftLastWriteTime)) return data.ftLastWriteTime;
    if (!IsZero(data.ftLastAccessTime)) return data.ftLastAccessTime;
    return data.ftCreationTime;
}

bool IsTodayUtc(const FILETIME& time)
{
    SYSTEMTIME day = {};
    if (!FileTimeToSystemTime(&time, &day)) return false;
    SYSTEMTIME today = {};
    GetSystemTime(&today);
    return day.wYear == today.wYear && day.wMonth == today.wMonth && day.wDay == today.wDay;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// The hook runs elevated: its working directory is one only administrators can change,
// the run's own work folder; without one, the installation directory under the
// program-files folder, and before the first install (no process can start in a missing
// directory) the system folder.
std::wstring HookWorkingDirectory(const std::wstring& installDirectory)
{
    const std::wstring workFolder = ElevatedWorkFolder();
    if (!workFolder.empty()) return workFolder;
    if (osh::IsDirectory(installDirectory)) return installDirectory;
    return osh::SystemFolder();
}

}  // namespace

std::wstring HookOutputFile(const std::wstring& logDirectory)
{
    return osh::AppendBackslash(logDirectory) + L".nodelete";
}

std::wstring HookRedirection(const std::wstring& outputFile)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (GetFileAttributesExW(outputFile.c_str(), GetFileExInfoStandard, &data) && IsTodayUtc(LastUse(data)))
        return L">>";
    return L">";
}

std::wstring HookCommandLine(const std::wstring& script, const std::wstring& modeName, const std::wstring& stateName,
                             const std::wstring& installDirectory, const std::wstring& redirection,
                             const std::wstring& outputFile)
{
    // The script lies in a temporary directory, whose path may hold blanks.
    return Quoted(script) + L" " + modeName + L" " + stateName + L" " +
           Quoted(osh::AppendBackslash(installDirectory)) + L" " + redirection + L" " + Quoted(outputFile);
}

void RunHookScript(Worker& worker, const std::wstring& stateName)
{
    const std::wstring script = worker.GetSetupScriptPath();
    if (script.empty()) return;
    std::wstring logDirectory, setupName, installDirectory;
    if (!worker.GetPath(logDirectory, evLog) || !worker.GetFileName(setupName, evSetup) ||
        !worker.GetPath(installDirectory, evInstall))
        return;
    const std::wstring outputFile = HookOutputFile(logDirectory);
    std::wstring modeName;
    worker.GetModeName(modeName);
    const std::wstring scriptLine =
        HookCommandLine(script, modeName, stateName, installDirectory, HookRedirection(outputFile), outputFile);
    try {
        // The state runs whatever the hook did; a failing hook is only worth a line.
        const DWORD exitCode =
            osh::RunAndWait(osh::CommandProcessorLine(scriptLine), HookWorkingDirectory(installDirectory));
        if (exitCode != 0)
            osh::LogWarning("Hook script for state " + osh::Narrow(stateName) + " ended with exit code " +
                            std::to_string(static_cast<long>(exitCode)));
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
}

}  // namespace ziz
