#include "app/ResultFile.h"

#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>


namespace app {

namespace {

// The folder part of a full path, with its backslash; empty when there is none.
std::wstring FolderOf(const std::wstring& fullPath)
{
    const std::wstring::size_type slash = fullPath.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : fullPath.substr(0, slash + 1);
}

std::wstring FullPathOf(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(full, length);
}

bool WriteWhole(const std::wstring& path, const std::string& text)
{
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
    if (!file.valid()) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) return false;
    return written == text.size() && FlushFileBuffers(file.get());
}

bool Fail(const std::string& what, const std::wstring& path, DWORD error)
{
    osh::LogWarning(what + " \"" + osh::Narrow(path) + "\", error " + std::to_string(error));
    return false;
}

bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool Refuse(std::string& refusal, const std::string& text)
{
    refusal = text;
    return false;
}

}  // namespace

bool CheckResultPath(const std::wstring& given, std::wstring& full, std::string& refusal)
{
    full = FullPathOf(given);
    const std::wstring folder = FolderOf(full);
    const std::string named = "The result file \"" + osh::Narrow(given) + "\"";
    if (folder.empty()) return Refuse(refusal, named + " cannot be placed");
    // Named without its last backslash, unless it is a drive's root.
    const std::string shown = osh::Narrow(folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder);
    const DWORD folderAttributes = GetFileAttributesW(folder.c_str());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || !(folderAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(refusal, named + " is refused: its folder " + shown + " does not exist");
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (IsLink(attributes)) return Refuse(refusal, named + " is refused: " + osh::Narrow(full) + " is a link");
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(refusal, named + " is refused: " + osh::Narrow(full) + " is a folder");
    wchar_t probe[MAX_PATH] = {};
    if (GetTempFileNameW(folder.c_str(), L"res", 0, probe) == 0) {
        const DWORD error = GetLastError();
        return Refuse(refusal, named + " is refused: its folder " + shown + " cannot be written (error " +
                                   std::to_string(error) + ")");
    }
    DeleteFileW(probe);
    return true;
}

bool WriteResultFile(const std::wstring& path, const std::string& text)
{
    const std::wstring target = FullPathOf(path);
    const std::wstring folder = FolderOf(target);
    if (folder.empty()) return Fail("Cannot place the result file", path, GetLastError());
    // Checked when the run started; a link that appeared since is refused as well.
    if (IsLink(GetFileAttributesW(target.c_str()))) return Fail("Refusing the link at the result file", target, 0);
    wchar_t temporary[MAX_PATH] = {};
    // Same folder, so the final move is a rename on one volume.
    if (GetTempFileNameW(folder.c_str(), L"res", 0, temporary) == 0)
        return Fail("Cannot create a temporary result file in", folder, GetLastError());
    if (!WriteWhole(temporary, text)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary);
        return Fail("Cannot write the result file", temporary, error);
    }
    if (!MoveFileExW(temporary, target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary);
        return Fail("Cannot put the result file in place", target, error);
    }
    osh::LogInformation(L"Result written to " + target);
    return true;
}

}  // namespace app
