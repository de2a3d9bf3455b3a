#pragma once
// Who signed a file: the signing certificate's subject and the public key of the
// certificate that issued it. Two signatures with equal identities come from the same
// publisher through the same authority, even when the certificate was renewed. The
// identity is read from a verified signature (osh/EmbeddedSignature.h). Free of Windows
// headers.
#include <string>
#include <vector>

namespace osh {

struct SignerIdentity {
    std::vector<unsigned char> subject;      // the subject name as encoded in the certificate
    std::string subjectText;                 // the same name as text, for log lines
    std::string issuerKeyAlgorithm;          // object identifier of the issuer key's algorithm
    std::vector<unsigned char> issuerKey;    // the issuer's public key bits
};

}  // namespace osh
