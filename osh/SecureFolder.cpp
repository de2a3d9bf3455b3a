#include "osh/SecureFolder.h"

#include "osh/FileSystem.h"
#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/PinnedFolder.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <aclapi.h>
#include <sddl.h>

#include <exception>
#include <stdexcept>
#include <utility>

namespace osh {

namespace {

bool QueryOwner(const std::wstring& path, std::wstring& ownerSid)
{
    PSID owner = nullptr;
    ScopedLocalMemory descriptor;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive())) != ERROR_SUCCESS ||
        owner == nullptr)
        return false;
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(owner, &text)) return false;
    const ScopedLocalMemory textMemory(text);
    ownerSid = text;
    return true;
}

bool QueryAccessList(const std::wstring& path, HANDLE handle, AccessList& list)
{
    PACL acl = nullptr;
    ScopedLocalMemory descriptor;
    auto* received = reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive());
    const DWORD result =
        handle != nullptr
            ? GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr, received)
            : GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl,
                                    nullptr, received);
    if (result != ERROR_SUCCESS) return false;
    list.present = acl != nullptr;
    list.entries.clear();
    for (DWORD index = 0; acl != nullptr && index < acl->AceCount; ++index) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(acl, index, reinterpret_cast<void**>(&header))) return false;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
        const auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        LPWSTR text = nullptr;
        if (!ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &text)) return false;
        const ScopedLocalMemory textMemory(text);
        list.entries.push_back(AccessEntry{text, allowed->Mask});
    }
    return true;
}

OwnerQueryFunction g_ownerQuery = &QueryOwner;
AccessListQueryFunction g_accessListQuery = &QueryAccessList;
AdminOnlyCreateFunction g_createDirectory = &CreateDirectoryW;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The path itself when it exists, else the nearest folder above it that does.
std::wstring NearestExisting(const std::wstring& path)
{
    std::wstring current = path;
    while (!current.empty() && !Exists(current)) {
        while (current.size() > 3 && current.back() == L'\\') current.pop_back();
        const std::size_t cut = current.find_last_of(L'\\');
        if (cut == std::wstring::npos || cut + 1 >= current.size()) return std::wstring();
        current.erase(cut == 2 ? cut + 1 : cut);
    }
    return current;
}

// A settings file is a few kilobytes; more is not one.
constexpr DWORD kLargestSettingsFile = 1024 * 1024;

void ReadAll(HANDLE file, const std::wstring& path, std::string& text)
{
    char block[4096];
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(file, block, sizeof(block), &read, nullptr))
            throw win::exception(GetLastError(), "ReadFile(\"" + Narrow(path) + "\")");
        if (read == 0) return;
        text.append(block, read);
        if (text.size() > kLargestSettingsFile) throw std::runtime_error(Narrow(path) + " is too large");
    }
}

bool IsDotEntry(const wchar_t* name) { return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0; }

bool RemoveEntry(const std::wstring& path, DWORD attributes);

// Opens the link itself, never what it points to, and deletes it when the handle closes.
bool DeleteLinkItself(const std::wstring& path)
{
    const ScopedFile link(CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr));
    if (!link) return false;
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

bool RemoveContents(const std::wstring& folder, const std::wstring& keep)
{
    WIN32_FIND_DATAW entry = {};
    const ScopedFind find(FindFirstFileW((AppendBackslash(folder) + L"*").c_str(), &entry));
    if (!find) {
        LogWarning(L"Could not list " + folder + L" for removal");
        return false;
    }
    bool removed = true;
    do {
        if (IsDotEntry(entry.cFileName) || (!keep.empty() && _wcsicmp(entry.cFileName, keep.c_str()) == 0)) continue;
        if (!RemoveEntry(AppendBackslash(folder) + entry.cFileName, entry.dwFileAttributes)) removed = false;
    } while (FindNextFileW(find.get(), &entry));
    return removed;
}

bool RemoveEntry(const std::wstring& path, DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // A link is removed itself; what it points to belongs to someone else.
    const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (isFolder && !isLink && !RemoveContents(path, std::wstring())) return false;
    if (isFolder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str())) return true;
    DWORD error = GetLastError();
    if (isLink) {
        if (DeleteLinkItself(path)) return true;
        error = GetLastError();
    }
    LogWarning(L"Could not remove " + path + L" (error " + std::to_wstring(error) + L")");
    return false;
}

}  // namespace

bool CreateAdminOnlyDirectory(const std::wstring& path)
{
    ScopedLocalMemory descriptor;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kAdminOnlyDirectorySddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()),
            nullptr))
        return false;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    const BOOL created = g_createDirectory(path.c_str(), &attributes);
    const DWORD error = GetLastError();
    descriptor.reset();
    SetLastError(error);
    return created != FALSE;
}

bool ReadOwnerSid(const std::wstring& path, std::wstring& ownerSid)
{
    ownerSid.clear();
    return g_ownerQuery(path, ownerSid);
}

bool ReadAccessList(const std::wstring& path, HANDLE handle, AccessList& list)
{
    list = AccessList();
    return g_accessListQuery(path, handle, list);
}

FolderFacts GatherFolderFacts(const std::wstring& path, const std::wstring& systemOwnerSid, const std::wstring& within)
{
    FolderFacts facts;
    facts.path = path;
    facts.systemOwnerSid = systemOwnerSid;
    facts.within = within;
    try {
        facts.outside = !within.empty() && !IsPathInside(GetFullPath(path), GetFullPath(within));
    } catch (const std::exception&) {
        facts.outside = true;
    }
    try {
        facts.crossesLink = PathCrossesReparsePoint(path, &facts.link);
    } catch (const std::exception&) {
        // A path the system cannot make whole is not one to write into.
        facts.crossesLink = true;
        facts.link = path;
    }
    facts.ownedFolder = NearestExisting(path);
    facts.ownerKnown = !facts.ownedFolder.empty() && ReadOwnerSid(facts.ownedFolder, facts.ownerSid);
    facts.exists = !facts.ownedFolder.empty() && facts.ownedFolder == path;
    if (facts.exists) facts.listKnown = ReadAccessList(path, nullptr, facts.list);
    return facts;
}

std::wstring SystemOwnerSid()
{
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    std::wstring owner;
    if (length == 0 || length >= MAX_PATH || !ReadOwnerSid(std::wstring(windows, length), owner)) owner.clear();
    return owner;
}

FolderVerdict CheckFolderForElevatedWrite(const std::wstring& path, const std::wstring& systemOwnerSid,
                                          const std::wstring& within)
{
    return JudgeFolder(GatherFolderFacts(path, systemOwnerSid, within));
}

FolderVerdict ReadTrustedSettingsFile(const std::wstring& path, std::string& text)
{
    text.clear();
    const std::size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return FolderVerdict{false, Narrow(path) + " is not a full path"};
    try {
        const PinnedFolder folder = PinnedFolder::Open(path.substr(0, cut));
        // Held against writers and deleters until its text is read.
        const ScopedFile file =
            folder.OpenFile(path.substr(cut + 1), GENERIC_READ | READ_CONTROL, FILE_SHARE_READ, FILE_OPEN);
        AccessFacts facts;
        facts.path = path;
        facts.systemOwnerSid = SystemOwnerSid();
        facts.ownerKnown = ReadOwnerSid(path, facts.ownerSid);
        facts.listKnown = ReadAccessList(path, file.get(), facts.list);
        const FolderVerdict verdict = JudgeAccess(facts);
        if (!verdict.usable) return verdict;
        ReadAll(file.get(), path, text);
        return verdict;
    } catch (const std::exception& error) {
        return FolderVerdict{false, error.what()};
    }
}

bool RemoveTreeWithoutFollowingLinks(const std::wstring& path, const std::wstring& keep)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return true;
    if (keep.empty() || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return RemoveEntry(path, attributes);
    if (!RemoveContents(path, keep)) return false;
    // The kept entry may be gone already (or never have been written).
    if (Exists(AppendBackslash(path) + keep)) return true;
    return RemoveDirectoryW(path.c_str()) != FALSE;
}

AdminOnlyCreateFunction SetAdminOnlyCreateFunction(AdminOnlyCreateFunction function)
{
    return std::exchange(g_createDirectory, function != nullptr ? function : &CreateDirectoryW);
}

OwnerQueryFunction SetOwnerQueryFunction(OwnerQueryFunction function)
{
    return std::exchange(g_ownerQuery, function != nullptr ? function : &QueryOwner);
}

AccessListQueryFunction SetAccessListQueryFunction(AccessListQueryFunction function)
{
    return std::exchange(g_accessListQuery, function != nullptr ? function : &QueryAccessList);
}

}  // namespace osh
