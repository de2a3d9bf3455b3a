#pragma once
// Rules for the folders an elevated run writes into: which owners can be trusted, whether
// an existing folder may be reused, and which folder a write goes to. No system calls here;
// osh/SecureFolder gathers the facts and applies the answers.
#include <string>
#include <vector>

namespace osh {

// The descriptor of every folder the elevated run makes for its own work: owned by
// Administrators, protected from inheritance, full access for SYSTEM and Administrators,
// read and execute for Users.
extern const wchar_t* const kAdminOnlyDirectorySddl;

// Administrators (S-1-5-32-544) and SYSTEM (S-1-5-18): only an administrator can take such
// a folder over. So is the owner of the Windows folder (`systemOwnerSid`: TrustedInstaller
// on Windows; whatever the platform reports elsewhere). Every other owner, a standard user
// above all, is not.
bool IsTrustedOwner(const std::wstring& ownerSid, const std::wstring& systemOwnerSid = std::wstring());

// One allowing entry of an access list (deny entries only take rights away, so they never
// make an object safe that the allowing ones leave open).
struct AccessEntry {
    std::wstring sid;
    unsigned long mask = 0;
};

// An object's access list; `present` false is a null list, which lets everyone do anything.
struct AccessList {
    bool present = false;
    std::vector<AccessEntry> entries;
};

// The rights that change an object or what a folder holds: write or append data (add a file
// or folder), write extended or plain attributes, delete it or a child, change its access
// list or owner, and the generic write and all rights.
extern const unsigned long kChangeRights;

// The first principal an entry lets change the object that is none of Administrators,
// SYSTEM, CREATOR OWNER (the creator of a child, which for what an elevated run makes is the
// run itself) and the owner of the Windows folder; empty when there is none.
std::wstring FirstUntrustedWriter(const AccessList& list, const std::wstring& systemOwnerSid);

struct FolderVerdict {
    bool usable = false;
    std::string reason;  // why not; empty when usable
};

// What is known about a file an elevated run would trust.
struct AccessFacts {
    std::wstring path;
    bool ownerKnown = false;
    std::wstring ownerSid;
    bool listKnown = false;
    AccessList list;
    std::wstring systemOwnerSid;
};

// No standard user can change it: a trusted owner (IsTrustedOwner) and an access list that
// lets nobody else change it. The reason names the path and the owner or the principal.
FolderVerdict JudgeAccess(const AccessFacts& facts);

// What is known about a folder before an elevated run writes into it.
struct FolderFacts {
    std::wstring path;
    // The path or a folder on its way is a junction or symbolic link (the first one).
    bool crossesLink = false;
    std::wstring link;
    // The folder (or, when it does not exist yet, the nearest folder above it that does).
    std::wstring ownedFolder;
    bool ownerKnown = false;
    std::wstring ownerSid;
    // Made by this run with the admin-only descriptor: no owner question arises.
    bool createdByThisRun = false;
    // The owner of the Windows folder; empty when it could not be read.
    std::wstring systemOwnerSid;
    // The folder exists (ownedFolder is the folder itself): its access list is judged too.
    bool exists = false;
    bool listKnown = false;
    AccessList list;
    // The folder the path must lie inside (empty: anywhere), and whether it does not.
    std::wstring within;
    bool outside = false;
};

// A link on the way refuses the folder first (it could lead anywhere), then a path outside
// the folder it must lie in, then (unless the run made the folder itself) an owner that is
// unknown or not trusted, and for an existing folder an access list that is unknown or lets
// anyone else change it.
FolderVerdict JudgeFolder(const FolderFacts& facts);

// The folder a write goes to: what the configuration names, except that an elevated run
// falls back to its own admin-only work folder when the named one was refused (empty when
// it has none: then nothing is written).
std::wstring ChooseWriteFolder(bool elevated, const std::wstring& named, const FolderVerdict& verdict,
                               const std::wstring& workFolder);

// "Refusing <what> <path>: <reason>; using <fallback> instead"
std::string RefusalLine(const std::string& what, const std::wstring& path, const FolderVerdict& verdict,
                        const std::wstring& fallback);

}  // namespace osh
