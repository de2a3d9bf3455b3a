#pragma once
// The effects behind osh/FolderTrust: folders only administrators can change, the facts
// about an existing folder, and removal of a run's folders that never follows a link.
#include "osh/FolderTrust.h"

#include <windows.h>

#include <string>

namespace osh {

// Creates one folder (not its parents) with kAdminOnlyDirectorySddl. False when it could
// not be made, also when something of that name is already there: a folder the run did not
// make itself is never taken for one it did. GetLastError tells why.
bool CreateAdminOnlyDirectory(const std::wstring& path);

// The owner of a file or folder as a SID string ("S-1-5-32-544"); false when it cannot be read.
bool ReadOwnerSid(const std::wstring& path, std::wstring& ownerSid);

// The access list of an object: of the open handle when there is one, else of the path.
bool ReadAccessList(const std::wstring& path, HANDLE handle, AccessList& list);

// Links on the way and the owner of the folder, or of the nearest existing folder above it,
// and the access list of the folder when it exists; systemOwnerSid (SystemOwnerSid) is
// passed on to the judgement; a path not inside `within` (when given) is marked outside.
FolderFacts GatherFolderFacts(const std::wstring& path, const std::wstring& systemOwnerSid = std::wstring(),
                              const std::wstring& within = std::wstring());

// The owner of the Windows folder; empty when it cannot be read.
std::wstring SystemOwnerSid();

// GatherFolderFacts judged by JudgeFolder.
FolderVerdict CheckFolderForElevatedWrite(const std::wstring& path, const std::wstring& systemOwnerSid = std::wstring(),
                                          const std::wstring& within = std::wstring());

// Reads a settings file that an elevated run may follow: opened without following a link
// and held against writers while its owner and access list are judged (JudgeAccess) and its
// text is read through the same handle. Usable with the text, or the reason it is not (also
// when it is missing).
FolderVerdict ReadTrustedSettingsFile(const std::wstring& path, std::string& text);

// Deletes a folder and everything below it. A link inside is removed as a link; what it
// points to is never entered. An entry named `keep` directly in the folder stays, and the
// folder with it. False when anything else stayed; each failure is logged as a warning.
bool RemoveTreeWithoutFollowingLinks(const std::wstring& path, const std::wstring& keep = std::wstring());

// Test seam: the creating call of CreateAdminOnlyDirectory (a file system that keeps no
// descriptors, as Wine's here, shows only what is passed). Null restores CreateDirectoryW.
using AdminOnlyCreateFunction = BOOL(WINAPI*)(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes);
AdminOnlyCreateFunction SetAdminOnlyCreateFunction(AdminOnlyCreateFunction function);

// Test seam: the owner query of ReadOwnerSid. Returns the previous one; null restores it.
using OwnerQueryFunction = bool (*)(const std::wstring& path, std::wstring& ownerSid);
OwnerQueryFunction SetOwnerQueryFunction(OwnerQueryFunction function);

// Test seam: the access-list query of ReadAccessList (Wine keeps no access lists set on
// files). Returns the previous one; null restores it.
using AccessListQueryFunction = bool (*)(const std::wstring& path, HANDLE handle, AccessList& list);
AccessListQueryFunction SetAccessListQueryFunction(AccessListQueryFunction function);

}  // namespace osh
