#pragma once
// Rules for the folders an elevated run writes into: which owners can be trusted, whether
// an existing folder may be reused, and which folder a write goes to. No system calls here;
// osh/SecureFolder gathers the facts and applies the answers.
#include <string>

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
};

struct FolderVerdict {
    bool usable = false;
    std::string reason;  // why not; empty when usable
};

// A link on the way refuses the folder first (it could lead anywhere), then an owner that
// is unknown or not trusted, unless the run made the folder itself.
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
