#pragma once
// Whether a run may believe the update document it fetched. HTTPS protects the transfer,
// not what lies on the server or a mirror: a signed program believes only a document its
// own publisher (or a publisher it announced) signed, for this product, not expired, and
// not older than the newest one this machine accepted before. Anything else is refused
// and the run uses nothing of it. An unsigned test build cannot check a signer and takes
// any document, as it always did, with a warning.
#include "engine/PublisherTrust.h"
#include "engine/trust/DocumentClaims.h"

#include <string>
#include <vector>

namespace ziz {

// How far a clock may run behind the publisher's before an expired document is refused.
constexpr long long kExpiryToleranceSeconds = 5 * 60;

// What was received.
struct DocumentEvidence {
    bool signaturePresent = false;  // an "update.xml.p7s" came with it
    bool signatureValid = false;    // it verifies over exactly the received bytes
    bool signerKnown = false;
    osh::SignerIdentity signer;
    bool claimsRead = false;
    std::string claimsProblem;      // why not
    DocumentClaims claims;
};

// What this machine and this program know.
struct DocumentExpectations {
    PublisherFacts own;                         // this program's signature
    bool unsignedAccepted = false;              // a test build: an unsigned program takes any document
    std::vector<AnnouncedPublisher> announced;  // publishers that count as this program's own too
    std::string product;                        // this program's product name
    long long now = 0;                          // seconds since 1970 (UTC)
    bool seenBefore = false;                    // a serial was accepted on this machine before
    unsigned long long highestSerial = 0;
};

enum class DocumentVerdict {
    Unchecked,          // an unsigned test build: accepted with a warning
    Accepted,           // signed by this program's publisher
    AcceptedAnnounced,  // signed by an announced next publisher, who counts as own from now on
    OwnUnusable,        // this program's own signature or signer cannot be relied on
    Unsigned,
    BadSignature,
    UnknownSigner,
    OtherPublisher,
    Unreadable,         // signed, but its serial, product or expiry cannot be read
    OtherProduct,
    Expired,
    Older,
};

struct DocumentDecision {
    DocumentVerdict verdict = DocumentVerdict::Unsigned;
    std::string line;  // the log line: the refusal, the warning, or what was accepted
};

bool IsAccepted(DocumentVerdict verdict);

// The SHA-256 of the issuer key the identity carries, lower-case hexadecimal.
std::string IssuerKeySha256(const osh::SignerIdentity& identity);

// Same subject, and the issuer key whose SHA-256 was announced.
bool IsAnnounced(const osh::SignerIdentity& signer, const std::vector<AnnouncedPublisher>& announced);

// The rule. Checks go in a fixed order and the first failure is the one reported: the
// signature, its signer, then (now that the claims are known to be the publisher's) the
// product, the expiry and the serial.
DocumentDecision JudgeDocument(const DocumentEvidence& evidence, const DocumentExpectations& expectations);

}  // namespace ziz
