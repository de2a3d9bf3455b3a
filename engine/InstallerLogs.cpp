#include "engine/InstallerLogs.h"

#include "engine/PathKind.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace ziz {

namespace {

// The setup log's purge rules: "purgeAge" one month, "purgeCount" ten.
constexpr double kPurgeAgeDays = 30;
constexpr size_t kPurgeCount = 10;

std::wstring LocalTimeStamp()
{
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t stamp[32] = {};
    std::swprintf(stamp, 32, L"%04u%02u%02u-%02u%02u%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                  now.wSecond);
    return stamp;
}

double AgeInDays(const FILETIME& written)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    const unsigned long long later = ticks(now);
    const unsigned long long earlier = ticks(written);
    return later > earlier ? static_cast<double>(later - earlier) / 864000000000.0 : 0;
}

// The component's kept logs in folder: plain files only, never a link.
std::vector<KeptLog> KeptLogsOf(const std::wstring& folder, const std::wstring& component)
{
    std::vector<KeptLog> logs;
    WIN32_FIND_DATAW found{};
    osh::ScopedFind find(FindFirstFileW((osh::AppendBackslash(folder) + component + L".*.log").c_str(), &found));
    if (!find.valid()) return logs;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
        logs.push_back(KeptLog{found.cFileName, AgeInDays(found.ftLastWriteTime)});
    } while (FindNextFileW(find.get(), &found));
    return logs;
}

void PurgeKeptLogs(const std::wstring& folder, const std::wstring& component)
{
    for (const std::wstring& name : InstallerLogsToPurge(KeptLogsOf(folder, component))) {
        const std::wstring path = osh::AppendBackslash(folder) + name;
        if (!DeleteFileW(path.c_str()))
            osh::LogWarning(L"Could not purge " + path + L", error " + std::to_wstring(GetLastError()));
    }
}

}  // namespace

std::vector<std::wstring> InstallerLogsToPurge(std::vector<KeptLog> logs)
{
    // The time in the name sorts as text: newest first.
    std::sort(logs.begin(), logs.end(), [](const KeptLog& a, const KeptLog& b) { return a.name > b.name; });
    std::vector<std::wstring> purged;
    for (size_t i = 0; i < logs.size(); ++i) {
        if (i >= kPurgeCount || logs[i].ageDays > kPurgeAgeDays) purged.push_back(logs[i].name);
    }
    return purged;
}

std::wstring KeepInstallerLog(Worker& worker, const std::wstring& component, const std::wstring& written)
{
    if (GetFileAttributesW(written.c_str()) == INVALID_FILE_ATTRIBUTES) return std::wstring();
    std::wstring logFolder;
    if (!worker.GetPath(logFolder, evLog)) {
        osh::LogWarning(L"The installer's log " + written + L" is not kept: no log folder");
        return std::wstring();
    }
    const std::wstring folder = osh::AppendBackslash(logFolder) + L"installers";
    const std::wstring kept = osh::AppendBackslash(folder) + component + L"." + LocalTimeStamp() + L".log";
    // A new name only: nothing placed there first is written through.
    if (!osh::CreatePath(folder, false) || !CopyFileW(written.c_str(), kept.c_str(), TRUE)) {
        const DWORD error = GetLastError();
        osh::LogWarning(L"The installer's log " + written + L" could not be kept as " + kept + L", error " +
                        std::to_wstring(error));
        return std::wstring();
    }
    PurgeKeptLogs(folder, component);
    return kept;
}

}  // namespace ziz
