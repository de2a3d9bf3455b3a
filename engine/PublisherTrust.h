#pragma once
// Which bootstrappers a run may hand over to. The update document comes over the network
// and the setup-files directory is writable by others, while the program handed over to
// runs with this program's rights: when this program is signed, only a bootstrapper signed
// by its own publisher counts (same subject, same issuing key, so a renewed certificate
// still matches). Trust fails closed: only a program that carries no signature at all is
// unsigned, and only a build with the tests on then accepts any bootstrapper; a signature
// that is there but does not verify, or whose signer cannot be read, accepts none.
#include "osh/EmbeddedSignature.h"
#include "osh/SignerIdentity.h"

#include <string>

#include <windows.h>

namespace ziz {

// What is known of one program's signature.
struct PublisherFacts {
    osh::SignatureState signature = osh::SignatureState::Invalid;
    std::string reason;         // why the signature is not valid, for log lines
    bool signerKnown = false;   // its signer could be read from the verification
    osh::SignerIdentity signer;
};

enum class PublisherVerdict {
    Unchecked,            // a test build without a signature: no publisher to compare with
    SamePublisher,
    InvalidSignature,     // the candidate is unsigned or altered after signing
    UnknownSigner,        // intact, but its signer cannot be read
    OtherPublisher,
    OwnPublisherUnknown,  // this program is signed, but its own signer cannot be read
    OwnSignatureInvalid,  // this program's signature is there but does not verify
    OwnUnsigned,          // a build without tests that carries no signature
};

// Same subject name and same issuer public key.
bool IsSamePublisher(const osh::SignerIdentity& own, const osh::SignerIdentity& candidate);

// The rule, from what is known of this program and of the candidate. unsignedAccepted:
// whether this build may hand over to anything when it carries no signature (tests on).
PublisherVerdict JudgePublisher(const PublisherFacts& own, const PublisherFacts& candidate, bool unsignedAccepted);

bool IsAccepted(PublisherVerdict verdict);

// Whether other files must be signed: unless this program carries no signature at all.
bool RequiresSignatures(const PublisherFacts& own);

// The one line that says this program accepts no bootstrapper and why; empty when it may
// accept some.
std::string OwnRefusalLine(const PublisherFacts& own, bool unsignedAccepted);

// The one log line of a refused candidate: the file, why, and the signer it carries.
std::string RefusalLine(PublisherVerdict verdict, const std::wstring& path, const PublisherFacts& own,
                        const PublisherFacts& candidate);

// Reads the signatures and applies the rule, logging what it decides.
class PublisherTrust {
public:
    // Reads the own program's signature once, here, through the open file.
    PublisherTrust(HANDLE ownProgram, const std::wstring& path, bool unsignedAccepted);
    // The running program's, read on first use from the file held since start-up (a file
    // that could not be held has an unknown signer) and kept for the process.
    static PublisherTrust& OfRunningProgram();

    // True when the file may become a bootstrapper candidate. A refusal logs one line
    // (warning); an unsigned own program of a test build logs once that it cannot check.
    bool Accepts(const std::wstring& path);
    bool Accepts(HANDLE file, const std::wstring& path);

    const PublisherFacts& Own() const { return own_; }

    // What the embedded signature of the open file says; never throws.
    static PublisherFacts ReadFacts(HANDLE file, const std::wstring& path);

private:
    PublisherTrust(const PublisherFacts& own, bool unsignedAccepted);
    bool Judge(const PublisherFacts& candidate, const std::wstring& path);

    PublisherFacts own_;
    bool unsignedAccepted_;
    bool uncheckedLogged_ = false;
};

}  // namespace ziz
