#include "engine/PublisherTrust.h"

#include "osh/Log.h"
#include "osh/Signature.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"

#include <exception>

namespace ziz {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string SignerText(const PublisherFacts& facts)
{
    return facts.signerKnown ? Quoted(facts.signer.subjectText) : std::string("unknown");
}

std::string Reason(PublisherVerdict verdict, const PublisherFacts& own)
{
    switch (verdict) {
    case PublisherVerdict::InvalidSignature: return "signature not valid";
    case PublisherVerdict::UnknownSigner: return "its certificates do not verify";
    case PublisherVerdict::OtherPublisher:
        return "not signed by this program's publisher " + Quoted(own.signer.subjectText);
    case PublisherVerdict::OwnPublisherUnknown: return "this program's own publisher is unknown";
    default: return "accepted";
    }
}

}  // namespace

bool IsSamePublisher(const osh::SignerIdentity& own, const osh::SignerIdentity& candidate)
{
    // An empty key would make any two unreadable identities equal.
    if (own.subject.empty() || own.issuerKey.empty()) return false;
    return own.subject == candidate.subject && own.issuerKeyAlgorithm == candidate.issuerKeyAlgorithm &&
           own.issuerKey == candidate.issuerKey;
}

PublisherVerdict JudgePublisher(const PublisherFacts& own, const PublisherFacts& candidate)
{
    if (!own.signatureValid) return PublisherVerdict::Unchecked;
    if (!candidate.signatureValid) return PublisherVerdict::InvalidSignature;
    if (!candidate.signerKnown) return PublisherVerdict::UnknownSigner;
    if (!own.signerKnown) return PublisherVerdict::OwnPublisherUnknown;
    if (!IsSamePublisher(own.signer, candidate.signer)) return PublisherVerdict::OtherPublisher;
    return PublisherVerdict::SamePublisher;
}

bool IsAccepted(PublisherVerdict verdict)
{
    return verdict == PublisherVerdict::Unchecked || verdict == PublisherVerdict::SamePublisher;
}

std::string RefusalLine(PublisherVerdict verdict, const std::wstring& path, const PublisherFacts& own,
                        const PublisherFacts& candidate)
{
    return "Bootstrapper " + osh::Narrow(path) + " refused: " + Reason(verdict, own) + "; signer " +
           SignerText(candidate);
}

PublisherFacts PublisherTrust::ReadFacts(const std::wstring& path)
{
    PublisherFacts facts;
    facts.signatureValid = osh::CheckFileSignature(path);
    try {
        facts.signer = osh::ReadSignerIdentity(path);
        facts.signerKnown = true;
    } catch (const std::exception&) {
        // An unsigned file has no signer; the verdict says what that means.
    }
    return facts;
}

PublisherTrust::PublisherTrust(const std::wstring& ownProgram) : own_(ReadFacts(ownProgram))
{
    if (own_.signatureValid && !own_.signerKnown) {
        osh::LogError(L"Could not read the publisher of " + ownProgram + L"; no other bootstrapper is accepted");
    }
}

PublisherTrust::PublisherTrust(RunningProgram)
{
    try {
        *this = PublisherTrust(osh::ModuleFileName(nullptr));
    } catch (const std::exception& error) {
        // Without its own path the program cannot tell whether it is signed: it accepts
        // nothing rather than everything.
        osh::LogError(std::string("Could not read the publisher of this program: ") + error.what());
        own_ = PublisherFacts();
        own_.signatureValid = true;
    }
}

PublisherTrust& PublisherTrust::OfRunningProgram()
{
    static PublisherTrust running{RunningProgram{}};
    return running;
}

bool PublisherTrust::Accepts(const std::wstring& path)
{
    if (!own_.signatureValid) {
        if (!uncheckedLogged_) {
            osh::LogWarning("This program is not signed: the publisher of another bootstrapper cannot be checked");
            uncheckedLogged_ = true;
        }
        return true;
    }
    const PublisherFacts candidate = ReadFacts(path);
    const PublisherVerdict verdict = JudgePublisher(own_, candidate);
    if (IsAccepted(verdict)) return true;
    osh::LogWarning(RefusalLine(verdict, path, own_, candidate));
    return false;
}

}  // namespace ziz
