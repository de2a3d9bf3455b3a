#include "engine/RestartCopy.h"

#include "engine/ElevatedWorkFolder.h"
#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/OwnImage.h"
#include "osh/Text.h"

#include <windows.h>

namespace ziz {

namespace {

const wchar_t kRestartPrefix[] = L"Norlo-Restart-";

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& start)
{
    return text.size() >= start.size() && osh::EqualsIgnoreAsciiCase(text.substr(0, start.size()), start);
}

// Removes path now, or else at the next restart; false when neither could be arranged.
bool RemoveNowOrAtRestart(const std::wstring& path, bool folder, bool& later)
{
    if (folder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) return true;
    later = true;
    if (MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) return true;
    osh::LogWarning(win::exception(GetLastError(), "MoveFileEx(" + osh::Narrow(path) + ")").what());
    return false;
}

}  // namespace

std::wstring RestartFolderOf(const std::wstring& program, const std::wstring& systemTemp)
{
    if (systemTemp.empty()) return std::wstring();
    const std::wstring parent = osh::AppendBackslash(systemTemp);
    if (!StartsWithIgnoringCase(program, parent)) return std::wstring();
    const std::wstring rest = program.substr(parent.size());
    const std::wstring::size_type slash = rest.find(L'\\');
    // Exactly one folder, named with the prefix and something after it, then the file.
    if (slash == std::wstring::npos || slash + 1 >= rest.size() || rest.find(L'\\', slash + 1) != std::wstring::npos)
        return std::wstring();
    const std::wstring folder = rest.substr(0, slash);
    if (folder.size() <= std::wstring(kRestartPrefix).size() || !StartsWithIgnoringCase(folder, kRestartPrefix))
        return std::wstring();
    return parent + folder;
}

void RemoveOwnRestartFolder()
{
    const osh::OwnImage& image = osh::HeldOwnImage();
    const std::wstring folder = RestartFolderOf(image.path, SystemTempFolder());
    if (folder.empty() || !IsElevatedRun()) return;
    bool later = false;
    if (!RemoveNowOrAtRestart(image.path, false, later) || !RemoveNowOrAtRestart(folder, true, later)) {
        osh::LogWarning(L"The folder of the copy the last logon started stays: " + folder);
        return;
    }
    osh::LogInformation(later ? L"The folder of the copy the last logon started goes at the next restart: " + folder
                              : L"Removed the folder of the copy the last logon started: " + folder);
}

}  // namespace ziz
