#include "osh/FolderTrust.h"

#include "osh/Text.h"

namespace osh {

const wchar_t* const kAdminOnlyDirectorySddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

namespace {

const wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
const wchar_t kSystemSid[] = L"S-1-5-18";
const wchar_t kCreatorOwnerSid[] = L"S-1-3-0";

// A null access list, or one that lets someone other than the trusted principals change it.
FolderVerdict JudgeList(const std::wstring& path, bool known, const AccessList& list, const std::wstring& systemOwnerSid)
{
    if (!known) return FolderVerdict{false, "the access list of " + Narrow(path) + " cannot be read"};
    if (!list.present) return FolderVerdict{false, Narrow(path) + " has no access list, anyone may change it"};
    const std::wstring writer = FirstUntrustedWriter(list, systemOwnerSid);
    if (!writer.empty()) return FolderVerdict{false, Narrow(path) + " lets " + Narrow(writer) + " change it"};
    return FolderVerdict{true, std::string()};
}

FolderVerdict Refused(const std::string& reason) { return FolderVerdict{false, reason}; }

}  // namespace

// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_WRITE_EA, FILE_DELETE_CHILD, FILE_WRITE_ATTRIBUTES,
// DELETE, WRITE_DAC, WRITE_OWNER, GENERIC_ALL, GENERIC_WRITE.
const unsigned long kChangeRights = 0x2ul | 0x4ul | 0x10ul | 0x40ul | 0x100ul | 0x10000ul | 0x40000ul | 0x80000ul |
                                    0x10000000ul | 0x40000000ul;

std::wstring FirstUntrustedWriter(const AccessList& list, const std::wstring& systemOwnerSid)
{
    for (const AccessEntry& entry : list.entries) {
        if ((entry.mask & kChangeRights) == 0) continue;
        if (IsTrustedOwner(entry.sid, systemOwnerSid) || entry.sid == kCreatorOwnerSid) continue;
        return entry.sid.empty() ? L"an unknown principal" : entry.sid;
    }
    return std::wstring();
}

FolderVerdict JudgeAccess(const AccessFacts& facts)
{
    if (!facts.ownerKnown) return Refused("the owner of " + Narrow(facts.path) + " cannot be read");
    if (!IsTrustedOwner(facts.ownerSid, facts.systemOwnerSid))
        return Refused(Narrow(facts.path) + " is owned by " + Narrow(facts.ownerSid) +
                       ", not by Administrators or SYSTEM");
    return JudgeList(facts.path, facts.listKnown, facts.list, facts.systemOwnerSid);
}

bool IsTrustedOwner(const std::wstring& ownerSid, const std::wstring& systemOwnerSid)
{
    if (ownerSid.empty()) return false;
    return ownerSid == kAdministratorsSid || ownerSid == kSystemSid || ownerSid == systemOwnerSid;
}

FolderVerdict JudgeFolder(const FolderFacts& facts)
{
    if (facts.crossesLink) return Refused("the link " + Narrow(facts.link) + " lies on its way");
    if (facts.outside) return Refused("it lies outside " + Narrow(facts.within));
    if (facts.createdByThisRun) return FolderVerdict{true, std::string()};
    if (!facts.ownerKnown) return Refused("the owner of " + Narrow(facts.ownedFolder) + " cannot be read");
    if (!IsTrustedOwner(facts.ownerSid, facts.systemOwnerSid))
        return Refused(Narrow(facts.ownedFolder) + " is owned by " + Narrow(facts.ownerSid) +
                       ", not by Administrators or SYSTEM");
    if (facts.exists) return JudgeList(facts.ownedFolder, facts.listKnown, facts.list, facts.systemOwnerSid);
    return FolderVerdict{true, std::string()};
}

std::wstring ChooseWriteFolder(bool elevated, const std::wstring& named, const FolderVerdict& verdict,
                               const std::wstring& workFolder)
{
    if (!elevated || verdict.usable) return named;
    // Without a safe place the elevated run writes nowhere rather than where it was sent.
    return workFolder;
}

std::string RefusalLine(const std::string& what, const std::wstring& path, const FolderVerdict& verdict,
                        const std::wstring& fallback)
{
    return "Refusing " + what + " " + Narrow(path) + ": " + verdict.reason + "; using " + Narrow(fallback) +
           " instead";
}

}  // namespace osh
