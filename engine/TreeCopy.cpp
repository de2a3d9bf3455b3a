#include "engine/TreeCopy.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <stdexcept>

namespace ziz {

namespace {

constexpr DWORD kBlockingAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN;

bool IsDotEntry(const std::wstring& name) { return name == L"." || name == L".."; }

std::string Quoted(const std::wstring& text) { return "\"" + osh::Narrow(text) + "\""; }

// Returns the target's attributes after the change, INVALID_FILE_ATTRIBUTES when it is missing.
DWORD ClearBlockingAttributes(const std::wstring& target)
{
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & kBlockingAttributes) == 0) return attributes;
    const DWORD cleared = attributes & ~kBlockingAttributes;
    if (!SetFileAttributesW(target.c_str(), cleared))
        throw win::exception(GetLastError(), "Could not set file attributes for " + Quoted(target) + ".");
    return cleared;
}

bool IsExistingDirectory(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsExistingFile(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CopyDirectoryEntry(const std::wstring& name, const std::wstring& src, const std::wstring& dst, DWORD dstAttributes)
{
    if (IsExistingFile(dstAttributes))
        throw std::runtime_error("Could not copy DIR " + osh::Narrow(name) + " over FILE " + osh::Narrow(dst));
    if (!osh::CreatePath(dst, false)) throw std::runtime_error("Could not create DIR " + osh::Narrow(dst));
    TreeCopy(dst, src, L"*");
}

void CopyFileEntry(const std::wstring& name, const std::wstring& src, const std::wstring& dst, DWORD dstAttributes)
{
    if (IsExistingDirectory(dstAttributes))
        throw std::runtime_error("Could not copy FILE " + osh::Narrow(name) + " over DIR " + osh::Narrow(dst));
    if (!CopyFileW(src.c_str(), dst.c_str(), FALSE))
        throw win::exception(GetLastError(), "CopyFile(" + Quoted(src) + "," + Quoted(dst) + ",FALSE)");
}

// Writing to or reading from a path through a link would reach wherever it points.
void RefuseLinkedPath(const char* copy, const std::wstring& path)
{
    std::wstring link;
    if (osh::PathCrossesReparsePoint(path, &link))
        throw std::runtime_error(std::string(copy) + " " + Quoted(path) + " refused: " + Quoted(link) + " is a link");
}

void CopyEntry(const WIN32_FIND_DATAW& entry, const std::wstring& target, const std::wstring& source)
{
    const std::wstring name = entry.cFileName;
    const std::wstring src = osh::AppendBackslash(source) + name;
    const std::wstring dst = osh::AppendBackslash(target) + name;
    if (osh::HasReparseAttribute(entry.dwFileAttributes)) {
        osh::LogWarning("Link " + Quoted(src) + " not copied: links are not followed");
        return;
    }
    if (osh::IsReparsePoint(dst)) throw std::runtime_error("Copy to " + Quoted(dst) + " refused: it is a link");
    const DWORD dstAttributes = ClearBlockingAttributes(dst);
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        CopyDirectoryEntry(name, src, dst, dstAttributes);
    else
        CopyFileEntry(name, src, dst, dstAttributes);
}

}  // namespace

void TreeCopy(const std::wstring& target, const std::wstring& source, const std::wstring& pattern)
{
    // Checked at every level: a folder made plain may have become a link since.
    RefuseLinkedPath("Copy to", target);
    RefuseLinkedPath("Copy from", source);
    const std::wstring search = osh::AppendBackslash(source) + pattern;
    WIN32_FIND_DATAW entry{};
    osh::ScopedFind find(FindFirstFileW(search.c_str(), &entry));
    if (!find) throw win::exception(GetLastError(), "FindFirstFile(" + Quoted(search) + ")");
    for (;;) {
        if (!IsDotEntry(entry.cFileName)) CopyEntry(entry, target, source);
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            if (error != ERROR_NO_MORE_FILES) throw win::exception(error, "FindNextFile(" + Quoted(search) + ")");
            return;
        }
    }
}

}  // namespace ziz
