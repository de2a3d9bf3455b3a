#include "engine/HookScript.h"

#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Process.h"

#include <windows.h>

#include <exception>

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
    // The script lies in the user's temporary directory, whose path may hold blanks.
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
    const std::wstring commandLine =
        HookCommandLine(script, modeName, stateName, installDirectory, HookRedirection(outputFile), outputFile);
    try {
        // The exit code means nothing to the engine.
        osh::RunAndWait(commandLine, installDirectory);
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
    }
}

}  // namespace ziz
