#pragma once
// Which bootstrappers a run may hand over to. The update document comes over the network
// and the setup-files directory is writable by others, while the program handed over to
// runs with this program's rights: when this program is signed, only a bootstrapper signed
// by its own publisher counts (same subject, same issuing key, so a renewed certificate
// still matches). An unsigned development build cannot tell publishers apart and accepts
// what it accepted before.
#include "osh/SignerIdentity.h"

#include <string>

namespace ziz {

// What is known of one program's signature.
struct PublisherFacts {
    bool signatureValid = false;  // an intact signature covers the file
    bool signerKnown = false;     // its signer could be read
    osh::SignerIdentity signer;
};

enum class PublisherVerdict {
    Unchecked,            // this program is unsigned: no publisher to compare with
    SamePublisher,
    InvalidSignature,     // the candidate is unsigned or altered after signing
    UnknownSigner,        // intact, but its signer cannot be read
    OtherPublisher,
    OwnPublisherUnknown,  // this program is signed, but its own signer cannot be read
};

// Same subject name and same issuer public key.
bool IsSamePublisher(const osh::SignerIdentity& own, const osh::SignerIdentity& candidate);

// The rule, from what is known of this program and of the candidate.
PublisherVerdict JudgePublisher(const PublisherFacts& own, const PublisherFacts& candidate);

bool IsAccepted(PublisherVerdict verdict);

// The one log line of a refused candidate: the file, why, and the signer it carries.
std::string RefusalLine(PublisherVerdict verdict, const std::wstring& path, const PublisherFacts& own,
                        const PublisherFacts& candidate);

// Reads the signatures and applies the rule, logging what it decides.
class PublisherTrust {
public:
    // Reads the own program's signature once, here.
    explicit PublisherTrust(const std::wstring& ownProgram);
    // The running program's, read on first use and kept for the process.
    static PublisherTrust& OfRunningProgram();

    // True when the file may become a bootstrapper candidate. A refusal logs one line
    // (warning); an unsigned own program logs once that it cannot check.
    bool Accepts(const std::wstring& path);

    const PublisherFacts& Own() const { return own_; }

    // Whether the file's signature is intact, and its signer; never throws.
    static PublisherFacts ReadFacts(const std::wstring& path);

private:
    struct RunningProgram {};
    explicit PublisherTrust(RunningProgram);

    PublisherFacts own_;
    bool uncheckedLogged_ = false;
};

}  // namespace ziz
