#include "engine/PublisherTrust.h"

#include "engine/trust/AnnouncedPublishers.h"
#include "engine/trust/UpdateDocumentTrust.h"

#include "osh/Log.h"
#include "osh/OwnImage.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include "BuildConfig.h"

namespace ziz {

namespace {

using osh::SignatureState;

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
    case PublisherVerdict::OwnSignatureInvalid: return "this program's own signature does not verify";
    case PublisherVerdict::OwnUnsigned: return "this program is not signed";
    default: return "accepted";
    }
}

PublisherFacts FactsOf(const osh::VerifiedSignature& verified)
{
    PublisherFacts facts;
    facts.signature = verified.state;
    facts.reason = verified.state == SignatureState::Valid ? verified.signerFailure : verified.reason;
    facts.signerKnown = verified.signerKnown;
    facts.signer = verified.signer;
    return facts;
}

PublisherFacts RunningProgramFacts()
{
    const osh::OwnImage& image = osh::HeldOwnImage();
    if (image.file == INVALID_HANDLE_VALUE) {
        // Without its own file the program cannot tell whether it is signed: it accepts
        // nothing rather than everything, and checks every component.
        PublisherFacts unknown;
        unknown.signature = SignatureState::Valid;
        unknown.reason = "its own file could not be held: " + image.failure;
        return unknown;
    }
    return PublisherTrust::ReadFacts(image.file, image.path);
}

}  // namespace

bool IsSamePublisher(const osh::SignerIdentity& own, const osh::SignerIdentity& candidate)
{
    // An empty key would make any two unreadable identities equal.
    if (own.subject.empty() || own.issuerKey.empty()) return false;
    return own.subject == candidate.subject && own.issuerKeyAlgorithm == candidate.issuerKeyAlgorithm &&
           own.issuerKey == candidate.issuerKey;
}

PublisherVerdict JudgePublisher(const PublisherFacts& own, const PublisherFacts& candidate, bool unsignedAccepted)
{
    if (own.signature == SignatureState::Absent)
        return unsignedAccepted ? PublisherVerdict::Unchecked : PublisherVerdict::OwnUnsigned;
    if (own.signature != SignatureState::Valid) return PublisherVerdict::OwnSignatureInvalid;
    if (!own.signerKnown) return PublisherVerdict::OwnPublisherUnknown;
    if (candidate.signature != SignatureState::Valid) return PublisherVerdict::InvalidSignature;
    if (!candidate.signerKnown) return PublisherVerdict::UnknownSigner;
    if (!IsSamePublisher(own.signer, candidate.signer)) return PublisherVerdict::OtherPublisher;
    return PublisherVerdict::SamePublisher;
}

bool IsAccepted(PublisherVerdict verdict)
{
    return verdict == PublisherVerdict::Unchecked || verdict == PublisherVerdict::SamePublisher;
}

bool RequiresSignatures(const PublisherFacts& own) { return own.signature != SignatureState::Absent; }

std::string OwnRefusalLine(const PublisherFacts& own, bool unsignedAccepted)
{
    const std::string refused = "; no other bootstrapper is accepted";
    switch (own.signature) {
    case SignatureState::Absent:
        return unsignedAccepted ? std::string() : "This program is not signed" + refused;
    case SignatureState::Invalid:
        return "This program's own signature does not verify: " + own.reason + refused +
               " and every component's signature is checked";
    case SignatureState::Valid:
        return own.signerKnown ? std::string() : "Could not read the publisher of this program: " + own.reason + refused;
    }
    return std::string();
}

std::string RefusalLine(PublisherVerdict verdict, const std::wstring& path, const PublisherFacts& own,
                        const PublisherFacts& candidate)
{
    return "Bootstrapper " + osh::Narrow(path) + " refused: " + Reason(verdict, own) + "; signer " +
           SignerText(candidate);
}

PublisherFacts PublisherTrust::ReadFacts(HANDLE file, const std::wstring& path)
{
    return FactsOf(osh::VerifyEmbeddedSignature(file, path));
}

PublisherTrust::PublisherTrust(const PublisherFacts& own, bool unsignedAccepted)
    : own_(own), unsignedAccepted_(unsignedAccepted)
{
    const std::string refusal = OwnRefusalLine(own_, unsignedAccepted_);
    if (!refusal.empty()) osh::LogError(refusal);
}

PublisherTrust::PublisherTrust(HANDLE ownProgram, const std::wstring& path, bool unsignedAccepted)
    : PublisherTrust(ReadFacts(ownProgram, path), unsignedAccepted)
{
}

PublisherTrust& PublisherTrust::OfRunningProgram()
{
    static PublisherTrust running(RunningProgramFacts(), NORLO_TEST_BUILD != 0);
    return running;
}

bool PublisherTrust::Accepts(const std::wstring& path)
{
    osh::ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        PublisherFacts unreadable;
        unreadable.reason = "it cannot be opened";
        return Judge(unreadable, path);
    }
    return Accepts(file.get(), path);
}

bool PublisherTrust::Accepts(HANDLE file, const std::wstring& path)
{
    // An unsigned test build reads no candidate: it has no publisher to compare with.
    if (own_.signature == SignatureState::Absent && unsignedAccepted_) return Judge(PublisherFacts(), path);
    return Judge(ReadFacts(file, path), path);
}

bool PublisherTrust::Judge(const PublisherFacts& candidate, const std::wstring& path)
{
    const PublisherVerdict verdict = JudgePublisher(own_, candidate, unsignedAccepted_);
    if (verdict == PublisherVerdict::Unchecked) {
        if (!uncheckedLogged_) {
            osh::LogWarning("This program is not signed: the publisher of another bootstrapper cannot be checked");
            uncheckedLogged_ = true;
        }
        return true;
    }
    if (IsAccepted(verdict)) return true;
    // A publisher the own one announced takes over from it.
    if (verdict == PublisherVerdict::OtherPublisher && IsAnnounced(candidate.signer, AnnouncedPublishers())) {
        osh::LogInformation("Bootstrapper " + osh::Narrow(path) + " accepted: signed by the announced publisher " +
                            SignerText(candidate));
        return true;
    }
    osh::LogWarning(RefusalLine(verdict, path, own_, candidate));
    return false;
}

}  // namespace ziz
