#pragma once
// A detached CMS (PKCS #7) signature over a document's exact bytes, verified by the
// system's message verification, and the signer as that verification established it: the
// certificate whose key the signature verified with, and the carried certificate whose key
// signed that certificate (a self-signed certificate is its own issuer). No chain to a root
// is built: who counts is decided by the publisher pin, as for bootstrappers.
#include "osh/SignerIdentity.h"

#include <string>
#include <vector>

namespace osh {

struct DetachedVerification {
    bool valid = false;         // the signature verifies over exactly these bytes
    std::string failure;        // why not, for log lines
    bool signerKnown = false;   // valid, and the signer's issuer was found among the carried certificates
    SignerIdentity signer;
    std::string signerFailure;  // why the signer is unknown
};

// Never throws.
DetachedVerification VerifyDetachedSignature(const std::vector<char>& content, const std::vector<char>& signature);

}  // namespace osh
