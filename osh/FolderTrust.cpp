#include "osh/FolderTrust.h"

#include "osh/Text.h"

namespace osh {

const wchar_t* const kAdminOnlyDirectorySddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

namespace {

const wchar_t kAdministratorsSid[] = L"S-1-5-32-544";
const wchar_t kSystemSid[] = L"S-1-5-18";

FolderVerdict Refused(const std::string& reason) { return FolderVerdict{false, reason}; }

}  // namespace

bool IsTrustedOwner(const std::wstring& ownerSid, const std::wstring& systemOwnerSid)
{
    if (ownerSid.empty()) return false;
    return ownerSid == kAdministratorsSid || ownerSid == kSystemSid || ownerSid == systemOwnerSid;
}

FolderVerdict JudgeFolder(const FolderFacts& facts)
{
    if (facts.crossesLink) return Refused("the link " + Narrow(facts.link) + " lies on its way");
    if (facts.createdByThisRun) return FolderVerdict{true, std::string()};
    if (!facts.ownerKnown) return Refused("the owner of " + Narrow(facts.ownedFolder) + " cannot be read");
    if (!IsTrustedOwner(facts.ownerSid, facts.systemOwnerSid))
        return Refused(Narrow(facts.ownedFolder) + " is owned by " + Narrow(facts.ownerSid) +
                       ", not by Administrators or SYSTEM");
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
