#include "engine/HandBack.h"

#include "engine/ElevatedWorkFolder.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/Registry.h"
#include "osh/ScopedHandle.h"

#include <windows.h>
#include <sddl.h>

namespace ziz {

namespace {

// Administrators and SYSTEM own it; users (the caller waiting for it) read and remove it.
const wchar_t kHandBackSddl[] = L"O:BAD:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FRSD;;;BU)";
constexpr DWORD kLargestHandBack = 1024 * 1024;

std::wstring UserTempFolder()
{
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(temp, length);
}

bool WriteAll(HANDLE file, const std::string& text)
{
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) && written == text.size();
}

}  // namespace

const std::wstring& HandBackId()
{
    static const std::wstring id = [] {
        std::wstring made;
        osh::CreateGuidString(made);
        return made;
    }();
    return id;
}

std::wstring HandBackFile(const std::wstring& id, bool elevatedWriter)
{
    const std::wstring folder = elevatedWriter ? SystemTempFolder() : UserTempFolder();
    if (folder.empty() || id.empty()) return std::wstring();
    return osh::AppendBackslash(folder) + L"Norlo-Result-" + id + L".txt";
}

bool WriteHandBackFile(const std::wstring& path, const std::string& text)
{
    osh::ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kHandBackSddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()), nullptr)) {
        osh::LogWarning("Cannot describe the hand-back file, error " + std::to_string(GetLastError()));
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    // New only: a name someone placed first (a file or a link) is never written through.
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, IsElevatedRun() ? &attributes : nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = GetLastError();
        osh::LogWarning(L"Cannot hand the run's result back through " + path + L", error " + std::to_wstring(error));
        return false;
    }
    if (!WriteAll(file.get(), text) || !FlushFileBuffers(file.get())) {
        const DWORD error = GetLastError();
        osh::LogWarning(L"Cannot write the hand-back file " + path + L", error " + std::to_wstring(error));
        return false;
    }
    return true;
}

bool TakeHandBackFile(const std::wstring& path, std::string& text)
{
    text.clear();
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) return false;
    BY_HANDLE_FILE_INFORMATION facts{};
    if (!GetFileInformationByHandle(file.get(), &facts) || (facts.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        facts.nFileSizeHigh != 0 || facts.nFileSizeLow > kLargestHandBack) {
        osh::LogWarning(L"Ignoring the hand-back file " + path + L": not a plain file of at most a megabyte");
        return false;
    }
    std::string bytes(facts.nFileSizeLow, '\0');
    DWORD read = 0;
    const bool complete = bytes.empty() || (ReadFile(file.get(), &bytes[0], facts.nFileSizeLow, &read, nullptr) &&
                                            read == facts.nFileSizeLow);
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file.get(), FileDispositionInfo, &disposition, sizeof(disposition)))
        osh::LogWarning(L"Could not remove the hand-back file " + path + L", error " + std::to_wstring(GetLastError()));
    if (!complete) return false;
    text.swap(bytes);
    return true;
}

}  // namespace ziz
