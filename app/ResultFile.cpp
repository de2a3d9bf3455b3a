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

}  // namespace

bool WriteResultFile(const std::wstring& path, const std::string& text)
{
    const std::wstring target = FullPathOf(path);
    const std::wstring folder = FolderOf(target);
    if (folder.empty()) return Fail("Cannot place the result file", path, GetLastError());
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
