#include "osh/PinnedFolder.h"

#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Text.h"

#include <sddl.h>
#include <winternl.h>

#include <stdexcept>
#include <utility>

namespace osh {

namespace {

// winternl.h leaves these out.
constexpr ULONG kFileOpen = 0x00000001;
constexpr ULONG kFileCreate = 0x00000002;
constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035L);
constexpr NTSTATUS kNoMoreFiles = static_cast<NTSTATUS>(0x80000006L);
constexpr NTSTATUS kNoSuchFile = static_cast<NTSTATUS>(0xC000000FL);

// The ntdll calls, looked up once in the loaded ntdll: linking its import library would
// also bind C run-time names to ntdll's copies of them.
struct NtFunctions {
    decltype(&::NtCreateFile) createFile = nullptr;
    decltype(&::NtSetInformationFile) setInformationFile = nullptr;
    NTSTATUS(NTAPI* queryDirectoryFile)(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK, PVOID, ULONG,
                                        FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING, BOOLEAN) = nullptr;
    decltype(&::RtlNtStatusToDosError) statusToDosError = nullptr;
};

template <typename Function>
void Resolve(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (function == nullptr) throw win::exception(GetLastError(), std::string("GetProcAddress(\"") + name + "\")");
}

const NtFunctions& Nt()
{
    static const NtFunctions functions = [] {
        NtFunctions found;
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        if (ntdll == nullptr) throw win::exception(GetLastError(), "GetModuleHandle(\"ntdll.dll\")");
        Resolve(ntdll, "NtCreateFile", found.createFile);
        Resolve(ntdll, "NtSetInformationFile", found.setInformationFile);
        Resolve(ntdll, "NtQueryDirectoryFile", found.queryDirectoryFile);
        Resolve(ntdll, "RtlNtStatusToDosError", found.statusToDosError);
        return found;
    }();
    return functions;
}

const ACCESS_MASK kFolderAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsForbiddenCharacter(wchar_t c)
{
    return c < 0x20 || c == L'\\' || c == L'/' || c == L':' || c == L'*' || c == L'?' || c == L'"' || c == L'<' ||
           c == L'>' || c == L'|';
}

std::string Quoted(const std::wstring& path) { return "(\"" + Narrow(path) + "\")"; }

// Opens name relative to folder: the link itself when it is one, never what it points to.
NTSTATUS OpenRelative(HANDLE folder, const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                      ULONG options, PSECURITY_DESCRIPTOR descriptor, HANDLE& opened)
{
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, descriptor);
    IO_STATUS_BLOCK status{};
    opened = nullptr;
    const NTSTATUS result = Nt().createFile(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr,
                                         FILE_ATTRIBUTE_NORMAL, share, disposition,
                                         options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (!NT_SUCCESS(result)) opened = nullptr;
    return result;
}

[[noreturn]] void ThrowStatus(NTSTATUS status, const std::string& context)
{
    throw win::exception(static_cast<DWORD>(Nt().statusToDosError(status)), context);
}

DWORD HandleAttributes(HANDLE handle, const std::wstring& path)
{
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof(basic)))
        throw win::exception(GetLastError(), "GetFileInformationByHandleEx" + Quoted(path));
    return basic.FileAttributes;
}

// What the handle shows must be what the listing showed: a system that follows the link
// despite being asked for the link itself (Wine does) is caught by the listing, Windows by
// the handle.
void RequireKind(HANDLE handle, const std::wstring& path, EntryKind wanted)
{
    if (EntryKindOf(HandleAttributes(handle, path)) != wanted)
        throw std::runtime_error(Narrow(path) + " changed while it was opened");
}

std::string KindText(EntryKind kind)
{
    switch (kind) {
    case EntryKind::Link: return "a link";
    case EntryKind::File: return "a file";
    case EntryKind::Folder: return "a folder";
    default: return "missing";
    }
}

void RequirePlainName(const std::wstring& folder, const std::wstring& name)
{
    if (!IsPlainEntryName(name))
        throw std::runtime_error("\"" + Narrow(name) + "\" is not a plain name in " + Narrow(folder));
}

void SetDisposition(HANDLE handle, const std::wstring& path)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)))
        throw win::exception(GetLastError(), "SetFileInformationByHandle" + Quoted(path));
}

// The rename goes through ntdll: SetFileInformationByHandle does not pass the folder handle
// on everywhere (Wine refuses it).
void RenameOpened(HANDLE file, HANDLE folder, const std::wstring& to, const std::wstring& path)
{
    const std::size_t bytes = sizeof(FILE_RENAME_INFORMATION) + to.size() * sizeof(wchar_t);
    std::vector<unsigned char> buffer(bytes, 0);
    auto* rename = reinterpret_cast<FILE_RENAME_INFORMATION*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = static_cast<ULONG>(to.size() * sizeof(wchar_t));
    to.copy(rename->FileName, to.size());
    IO_STATUS_BLOCK status{};
    const NTSTATUS result =
        Nt().setInformationFile(file, &status, rename, static_cast<ULONG>(bytes), FileRenameInformation);
    if (!NT_SUCCESS(result)) ThrowStatus(result, "NtSetInformationFile" + Quoted(path));
}

void CopyBytes(HANDLE source, HANDLE target, const std::wstring& path)
{
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(source, start, nullptr, FILE_BEGIN))
        throw win::exception(GetLastError(), "SetFilePointerEx" + Quoted(path));
    std::vector<unsigned char> block(256 * 1024);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, block.data(), static_cast<DWORD>(block.size()), &read, nullptr))
            throw win::exception(GetLastError(), "ReadFile" + Quoted(path));
        if (read == 0) break;
        DWORD written = 0;
        if (!::WriteFile(target, block.data(), read, &written, nullptr) || written != read)
            throw win::exception(GetLastError(), "WriteFile" + Quoted(path));
    }
    if (!FlushFileBuffers(target)) throw win::exception(GetLastError(), "FlushFileBuffers" + Quoted(path));
}

}  // namespace

RefusedEntry::RefusedEntry(const std::wstring& path, EntryKind kind)
    : std::runtime_error(Narrow(path) + " is " + KindText(kind)), path_(path), kind_(kind)
{
}

bool IsPlainEntryName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..") return false;
    for (wchar_t c : name) {
        if (IsForbiddenCharacter(c)) return false;
    }
    return name.back() != L'.' && name.back() != L' ';
}

bool SplitDrivePath(const std::wstring& path, std::wstring& root, std::vector<std::wstring>& names)
{
    root.clear();
    names.clear();
    const bool drive = path.size() >= 3 && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                       path[1] == L':' && path[2] == L'\\';
    if (!drive) return false;
    std::size_t start = 3;
    while (start < path.size()) {
        std::size_t end = path.find(L'\\', start);
        if (end == std::wstring::npos) end = path.size();
        const std::wstring name = path.substr(start, end - start);
        // One trailing backslash is a folder path's; an empty name anywhere else is not.
        if ((name.empty() && end != path.size() - 1) || (!name.empty() && !IsPlainEntryName(name))) {
            names.clear();
            return false;
        }
        if (!name.empty()) names.push_back(name);
        start = end + 1;
    }
    root = path.substr(0, 3);
    return true;
}

EntryKind EntryKindOf(unsigned long attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
}

PinnedFolder PinnedFolder::Open(const std::wstring& path) { return OpenFrom(path, false, nullptr); }

PinnedFolder PinnedFolder::OpenCreating(const std::wstring& path, const wchar_t* sddl)
{
    return OpenFrom(path, true, sddl);
}

PinnedFolder PinnedFolder::OpenFrom(const std::wstring& path, bool create, const wchar_t* sddl)
{
    std::wstring root;
    std::vector<std::wstring> names;
    if (!SplitDrivePath(GetFullPath(path), root, names))
        throw std::runtime_error(Narrow(path) + " is not a full drive path of plain names");
    HANDLE handle = CreateFileW(root.c_str(), kFolderAccess, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) throw win::exception(GetLastError(), "CreateFile" + Quoted(root));
    PinnedFolder folder(root, handle);
    for (const std::wstring& name : names) folder = folder.Folder(name, create, sddl);
    folder.path_ = path;
    return folder;
}

std::wstring PinnedFolder::PathOf(const std::wstring& name) const { return AppendBackslash(path_) + name; }

// Every listing reads the folder afresh: a new handle to the same folder (the pinned one,
// never its path), asked with a mask, which makes Wine read it again too instead of
// answering from what it read for an earlier listing.
std::vector<FolderEntry> PinnedFolder::List(const std::wstring& mask) const
{
    HANDLE opened = nullptr;
    const NTSTATUS reopened =
        OpenRelative(handle_.get(), std::wstring(), kFolderAccess, kShareAll, kFileOpen, FILE_DIRECTORY_FILE, nullptr, opened);
    if (!NT_SUCCESS(reopened)) ThrowStatus(reopened, "NtCreateFile" + Quoted(path_));
    const ScopedFile listing(opened);
    std::vector<FolderEntry> entries;
    std::vector<unsigned char> buffer(64 * 1024);
    std::wstring maskText = mask;
    const auto maskBytes = static_cast<USHORT>(maskText.size() * sizeof(wchar_t));
    UNICODE_STRING maskString{maskBytes, maskBytes, &maskText[0]};
    for (BOOLEAN first = TRUE;; first = FALSE) {
        IO_STATUS_BLOCK status{};
        const NTSTATUS result =
            Nt().queryDirectoryFile(listing.get(), nullptr, nullptr, nullptr, &status, buffer.data(),
                                 static_cast<ULONG>(buffer.size()), FileIdBothDirectoryInformation, FALSE, &maskString, first);
        // The first call answers "no such file" when nothing matches.
        if (result == kNoMoreFiles || (first && result == kNoSuchFile)) return entries;
        if (!NT_SUCCESS(result)) ThrowStatus(result, "NtQueryDirectoryFile" + Quoted(path_));
        for (std::size_t offset = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                entries.push_back({name, EntryKindOf(entry->FileAttributes), entry->FileAttributes,
                                   static_cast<std::uint64_t>(entry->EndOfFile.QuadPart),
                                   static_cast<std::uint64_t>(entry->LastWriteTime.QuadPart)});
            if (entry->NextEntryOffset == 0) break;
            offset += entry->NextEntryOffset;
        }
    }
}

EntryKind PinnedFolder::KindOf(const std::wstring& name) const
{
    for (const FolderEntry& entry : List()) {
        if (ComparePaths(entry.name, name) == 0) return entry.kind;
    }
    return EntryKind::Missing;
}

PinnedFolder PinnedFolder::Folder(const std::wstring& name, bool create, const wchar_t* sddl) const
{
    return OpenFolder(name, create, sddl, kShareAll);
}

PinnedFolder PinnedFolder::HoldFolder(const std::wstring& name) const
{
    return OpenFolder(name, false, nullptr, FILE_SHARE_READ | FILE_SHARE_WRITE);
}

bool PinnedFolder::IsSameFolderAs(const PinnedFolder& other) const
{
    BY_HANDLE_FILE_INFORMATION mine{}, theirs{};
    if (!GetFileInformationByHandle(handle_.get(), &mine))
        throw win::exception(GetLastError(), "GetFileInformationByHandle" + Quoted(path_));
    if (!GetFileInformationByHandle(other.handle_.get(), &theirs))
        throw win::exception(GetLastError(), "GetFileInformationByHandle" + Quoted(other.path_));
    return mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber && mine.nFileIndexHigh == theirs.nFileIndexHigh &&
           mine.nFileIndexLow == theirs.nFileIndexLow;
}

PinnedFolder PinnedFolder::OpenFolder(const std::wstring& name, bool create, const wchar_t* sddl, ULONG share) const
{
    RequirePlainName(path_, name);
    const std::wstring path = PathOf(name);
    EntryKind kind = KindOf(name);
    HANDLE opened = nullptr;
    if (kind == EntryKind::Missing && create) {
        ScopedLocalMemory descriptor;
        if (sddl != nullptr &&
            !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                sddl, SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.receive()), nullptr))
            throw win::exception(GetLastError(), "ConvertStringSecurityDescriptorToSecurityDescriptor");
        const NTSTATUS status = OpenRelative(handle_.get(), name, kFolderAccess, share, kFileCreate,
                                             FILE_DIRECTORY_FILE, descriptor.get(), opened);
        if (status == kNameCollision) {
            kind = KindOf(name);  // made by someone else meanwhile: taken only as a plain folder
        } else if (!NT_SUCCESS(status)) {
            ThrowStatus(status, "NtCreateFile" + Quoted(path));
        } else {
            kind = EntryKind::Folder;
        }
    }
    if (kind == EntryKind::Link || kind == EntryKind::File) throw RefusedEntry(path, kind);
    if (kind == EntryKind::Missing) throw win::exception(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), Narrow(path));
    if (opened == nullptr) {
        const NTSTATUS status =
            OpenRelative(handle_.get(), name, kFolderAccess, share, kFileOpen, FILE_DIRECTORY_FILE, nullptr, opened);
        if (!NT_SUCCESS(status)) ThrowStatus(status, "NtCreateFile" + Quoted(path));
    }
    PinnedFolder child(path, opened);
    RequireKind(opened, path, EntryKind::Folder);
    return child;
}

ScopedFile PinnedFolder::OpenFile(const std::wstring& name, ACCESS_MASK access, ULONG share, ULONG disposition,
                                  ULONG options) const
{
    RequirePlainName(path_, name);
    const std::wstring path = PathOf(name);
    const EntryKind kind = KindOf(name);
    if (kind == EntryKind::Link || kind == EntryKind::Folder) throw RefusedEntry(path, kind);
    HANDLE opened = nullptr;
    const NTSTATUS status = OpenRelative(handle_.get(), name, access | FILE_READ_ATTRIBUTES, share, disposition,
                                         options | FILE_NON_DIRECTORY_FILE, nullptr, opened);
    if (!NT_SUCCESS(status)) ThrowStatus(status, "NtCreateFile" + Quoted(path));
    ScopedFile file(opened);
    RequireKind(opened, path, EntryKind::File);
    return file;
}

void PinnedFolder::ChangeAttributes(const std::wstring& name, unsigned long add, unsigned long remove) const
{
    RequirePlainName(path_, name);
    const std::wstring path = PathOf(name);
    const EntryKind kind = KindOf(name);
    if (kind == EntryKind::Link) throw RefusedEntry(path, kind);
    if (kind == EntryKind::Missing) throw win::exception(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), Narrow(path));
    HANDLE opened = nullptr;
    const NTSTATUS status = OpenRelative(handle_.get(), name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                                         kFileOpen, kind == EntryKind::Folder ? FILE_DIRECTORY_FILE : FILE_NON_DIRECTORY_FILE,
                                         nullptr, opened);
    if (!NT_SUCCESS(status)) ThrowStatus(status, "NtCreateFile" + Quoted(path));
    const ScopedFile entry(opened);
    const DWORD attributes = HandleAttributes(opened, path);
    if (EntryKindOf(attributes) != kind) throw std::runtime_error(Narrow(path) + " changed while it was opened");
    // Only the attributes a caller may set: the folder bit and the like belong to the system.
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    const DWORD wanted = ((attributes | add) & ~remove) & settable;
    if (wanted == (attributes & settable)) return;
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = wanted != 0 ? wanted : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(opened, FileBasicInfo, &basic, sizeof(basic)))
        throw win::exception(GetLastError(), "SetFileInformationByHandle" + Quoted(path));
}

bool PinnedFolder::Remove(const std::wstring& name, bool clearReadOnly) const
{
    RequirePlainName(path_, name);
    const std::wstring path = PathOf(name);
    const EntryKind kind = KindOf(name);
    if (kind == EntryKind::Missing) return true;
    const ULONG options = kind == EntryKind::Folder ? FILE_DIRECTORY_FILE
                          : kind == EntryKind::File ? FILE_NON_DIRECTORY_FILE
                                                    : 0;
    HANDLE opened = nullptr;
    const NTSTATUS status = OpenRelative(handle_.get(), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                         kShareAll, kFileOpen, options, nullptr, opened);
    if (!NT_SUCCESS(status)) ThrowStatus(status, "NtCreateFile" + Quoted(path));
    const ScopedFile entry(opened);
    const DWORD attributes = HandleAttributes(opened, path);
    if (EntryKindOf(attributes) != kind) {
        // A link the system opened as its target: deleting through this handle would
        // delete what it points to.
        if (kind == EntryKind::Link)
            throw std::runtime_error("RemoveLink: '" + Narrow(path) + "' could not be opened as a link; left in place");
        throw std::runtime_error(Narrow(path) + " changed while it was opened");
    }
    if (clearReadOnly && kind == EntryKind::File && (attributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_BASIC_INFO basic{};
        const DWORD kept = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
        if (!SetFileInformationByHandle(opened, FileBasicInfo, &basic, sizeof(basic)))
            throw win::exception(GetLastError(), "SetFileInformationByHandle" + Quoted(path));
    }
    SetDisposition(opened, path);
    return true;
}

bool PinnedFolder::RemoveTree(const std::wstring& name) const
{
    if (KindOf(name) != EntryKind::Folder) return Remove(name);
    bool removed = true;
    {
        const PinnedFolder child = Folder(name);
        for (const FolderEntry& entry : child.List()) {
            try {
                if (!(entry.kind == EntryKind::Folder ? child.RemoveTree(entry.name) : child.Remove(entry.name)))
                    removed = false;
            } catch (const std::exception& error) {
                LogWarning(error.what());
                removed = false;
            }
        }
    }
    return removed && Remove(name);
}

void PinnedFolder::Rename(const std::wstring& from, const std::wstring& to) const
{
    RequirePlainName(path_, to);
    const ScopedFile file = OpenFile(from, DELETE, kShareAll, kFileOpen);
    RenameOpened(file.get(), handle_.get(), to, PathOf(from));
}

void PinnedFolder::WriteCopy(HANDLE source, const std::wstring& name) const
{
    RequirePlainName(path_, name);
    const std::wstring temporary = name + L".new";
    // Whatever another user left under that name goes; the copy is always a new file, so
    // a planted hard link is never written through.
    Remove(temporary);
    ScopedFile target = OpenFile(temporary, GENERIC_WRITE | DELETE, 0, kFileCreate);
    try {
        CopyBytes(source, target.get(), PathOf(temporary));
        RenameOpened(target.get(), handle_.get(), name, PathOf(temporary));
    } catch (...) {
        // The half-written copy goes when its handle closes.
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        SetFileInformationByHandle(target.get(), FileDispositionInfo, &disposition, sizeof(disposition));
        throw;
    }
}

}  // namespace osh
