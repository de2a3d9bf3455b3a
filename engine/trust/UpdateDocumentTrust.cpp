#include "engine/trust/UpdateDocumentTrust.h"

#include <Poco/DigestEngine.h>
#include <Poco/SHA2Engine.h>

namespace ziz {

namespace {

using osh::SignatureState;

DocumentDecision Decide(DocumentVerdict verdict, const std::string& reason)
{
    return DocumentDecision{verdict, "Update document refused: " + reason};
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The own program's publisher can be relied on; otherwise the refusal.
bool OwnUsable(const DocumentExpectations& expectations, DocumentDecision& refusal)
{
    const PublisherFacts& own = expectations.own;
    if (own.signature == SignatureState::Absent) {
        refusal = Decide(DocumentVerdict::OwnUnusable, "this program is not signed");
        return false;
    }
    if (own.signature != SignatureState::Valid || !own.signerKnown) {
        refusal = Decide(DocumentVerdict::OwnUnusable, "this program's own publisher is unknown");
        return false;
    }
    return true;
}

}  // namespace

bool IsAccepted(DocumentVerdict verdict)
{
    return verdict == DocumentVerdict::Unchecked || verdict == DocumentVerdict::Accepted ||
           verdict == DocumentVerdict::AcceptedAnnounced;
}

std::string IssuerKeySha256(const osh::SignerIdentity& identity)
{
    Poco::SHA2Engine sha256(Poco::SHA2Engine::SHA_256);
    sha256.update(identity.issuerKey.data(), static_cast<unsigned>(identity.issuerKey.size()));
    return Poco::DigestEngine::digestToHex(sha256.digest());
}

bool IsAnnounced(const osh::SignerIdentity& signer, const std::vector<AnnouncedPublisher>& announced)
{
    if (signer.subject.empty() || signer.issuerKey.empty()) return false;
    const std::string key = IssuerKeySha256(signer);
    for (const AnnouncedPublisher& next : announced)
        if (next.subject == signer.subject && next.issuerKeySha256 == key) return true;
    return false;
}

DocumentDecision JudgeDocument(const DocumentEvidence& evidence, const DocumentExpectations& expectations)
{
    if (expectations.own.signature == SignatureState::Absent && expectations.unsignedAccepted)
        return DocumentDecision{DocumentVerdict::Unchecked,
                                "This program is not signed: the update document is used without checking who signed it"};
    DocumentDecision refusal;
    if (!OwnUsable(expectations, refusal)) return refusal;
    if (!evidence.signaturePresent) return Decide(DocumentVerdict::Unsigned, "it carries no signature");
    if (!evidence.signatureValid) return Decide(DocumentVerdict::BadSignature, "signature does not match its content");
    if (!evidence.signerKnown) return Decide(DocumentVerdict::UnknownSigner, "its signer's certificates do not verify");

    DocumentVerdict accepted = DocumentVerdict::Accepted;
    if (!IsSamePublisher(expectations.own.signer, evidence.signer)) {
        if (!IsAnnounced(evidence.signer, expectations.announced))
            return Decide(DocumentVerdict::OtherPublisher,
                          "signed by " + Quoted(evidence.signer.subjectText) + " (not this publisher)");
        accepted = DocumentVerdict::AcceptedAnnounced;
    }
    if (!evidence.claimsRead) return Decide(DocumentVerdict::Unreadable, evidence.claimsProblem);
    const DocumentClaims& claims = evidence.claims;
    if (claims.product != expectations.product) return Decide(DocumentVerdict::OtherProduct, "for another product");
    if (expectations.now > claims.expires + kExpiryToleranceSeconds)
        return Decide(DocumentVerdict::Expired, "expired on " + UtcDate(claims.expires));
    if (expectations.seenBefore && claims.serial < expectations.highestSerial)
        return Decide(DocumentVerdict::Older, "serial " + std::to_string(claims.serial) + " is older than " +
                                                  std::to_string(expectations.highestSerial) + " already seen");

    std::string line = "Update document accepted: serial " + std::to_string(claims.serial) + ", expires on " +
                       UtcDate(claims.expires);
    if (accepted == DocumentVerdict::AcceptedAnnounced)
        line += ", signed by the announced publisher " + Quoted(evidence.signer.subjectText);
    return DocumentDecision{accepted, line};
}

}  // namespace ziz
