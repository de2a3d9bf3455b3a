#pragma once
// Who signed a file: the signing certificate's subject and the public key of the
// certificate that issued it. Two signatures with equal identities come from the same
// publisher through the same authority, even when the certificate was renewed.
// Free of Windows headers.
#include <string>
#include <vector>

namespace osh {

struct SignerIdentity {
    std::vector<unsigned char> subject;      // the subject name as encoded in the certificate
    std::string subjectText;                 // the same name as text, for log lines
    std::string issuerKeyAlgorithm;          // object identifier of the issuer key's algorithm
    std::vector<unsigned char> issuerKey;    // the issuer's public key bits
};

// The signer of the file's embedded signature (its first signer). The issuer is looked up
// among the certificates the signature carries and must have signed the signing
// certificate (a self-signed certificate is its own issuer); the signer must have signed
// the signature. Throws std::runtime_error ("Could not read the signer of <path>: <what
// failed> (error 0x<code>)")
// when the file carries no readable signature or either certificate is missing or does
// not verify. It does not judge whether the signature covers the file as it is now:
// that is CheckFileSignature's question.
SignerIdentity ReadSignerIdentity(const std::wstring& path);

}  // namespace osh
