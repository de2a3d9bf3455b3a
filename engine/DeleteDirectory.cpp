#include "engine/DeleteDirectory.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

const wchar_t kKeepMarker[] = L".nodelete";

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

// A junction or symbolic link goes itself; what it points to may lie anywhere.
void DeleteLink(const std::wstring& path)
{
    osh::RemoveLink(path);
    osh::LogInformation(L"Link \"" + path + L"\" removed without following it.");
}

// Deletes one entry of a listing; false when a subdirectory stayed (already logged).
bool DeleteEntry(const std::wstring& path, const WIN32_FIND_DATAW& entry, bool rethrow)
{
    if (osh::HasReparseAttribute(entry.dwFileAttributes)) {
        DeleteLink(path);
        return true;
    }
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) osh::SetReadOnly(path, false);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (DeleteDirectory(path, rethrow)) return true;
        osh::LogWarning(L"Directory \"" + path + L"\" could not be deleted.");
        return false;
    }
    if (!DeleteFileW(path.c_str())) {
        const DWORD error = GetLastError();
        osh::LogWarning(L"File \"" + path + L"\" could not be deleted.");
        throw win::exception(error, "DeleteFile");
    }
    return true;
}

// Deletes every entry of the directory; false when something stayed.
bool DeleteContents(const std::wstring& directory, bool rethrow)
{
    const std::wstring base = osh::AppendBackslash(directory);
    WIN32_FIND_DATAW entry = {};
    osh::ScopedFind find(FindFirstFileW((base + L"*").c_str(), &entry));
    if (!find) throw win::exception(GetLastError(), "FindFirstFile");
    bool result = true;
    do {
        if (IsDotEntry(entry.cFileName)) continue;
        try {
            if (!DeleteEntry(base + entry.cFileName, entry, rethrow)) result = false;
        } catch (const std::exception& error) {
            osh::LogError(error.what());
            result = false;
            if (rethrow) throw;
        }
    } while (FindNextFileW(find.get(), &entry));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES) throw win::exception(error, "FindNextFile");
    return result;
}

bool DeleteTree(const std::wstring& directory, bool rethrow)
{
    const std::wstring full = osh::GetFullPath(directory);
    // Checked again at every level: a folder listed as plain may have become a link since.
    if (osh::IsReparsePoint(full)) {
        DeleteLink(full);
        return true;
    }
    if (!osh::IsDirectory(full))
        throw std::runtime_error("DeleteDirectory: '" + osh::Narrow(directory) + "' is not a directory");
    const std::wstring marker = osh::AppendBackslash(full) + kKeepMarker;
    if (GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    if (!DeleteContents(full, rethrow)) return false;
    if (!RemoveDirectoryW(full.c_str())) {
        const DWORD error = GetLastError();
        osh::LogWarning(L"Directory \"" + directory + L"\" could not be removed.");
        throw win::exception(error, "RemoveDirectory");
    }
    return true;
}

}  // namespace

bool DeleteDirectory(const std::wstring& directory, bool rethrow)
{
    try {
        return DeleteTree(directory, rethrow);
    } catch (const std::exception& error) {
        osh::LogError(error.what());
        if (rethrow) throw;
        return false;
    }
}

}  // namespace ziz
