#include "osh/DetachedSignature.h"

#include "osh/CertificateIdentity.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>

namespace osh {

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

std::string Hex(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

// The carried certificate named as the signer's issuer whose key signed the signer's
// certificate; anybody can write a certificate with a given name, so only the key counts.
ScopedCertContext FindIssuer(HCERTSTORE carried, PCCERT_CONTEXT signer)
{
    PCCERT_CONTEXT candidate = nullptr;
    while ((candidate = CertEnumCertificatesInStore(carried, candidate)) != nullptr) {
        CERT_NAME_BLOB issuerName = signer->pCertInfo->Issuer;
        CERT_NAME_BLOB subjectName = candidate->pCertInfo->Subject;
        if (CertCompareCertificateName(X509_ASN_ENCODING, &issuerName, &subjectName) && SignedBy(signer, candidate))
            return ScopedCertContext(CertDuplicateCertificateContext(candidate));
    }
    return ScopedCertContext();
}

// The digest the signer signed, when it signed attributes rather than the content itself,
// must be the digest of the content: the system's verification is not relied on for that
// (Wine's checks only the signature over the attributes). True when it is, or when the
// signer signed the content directly.
bool SignedDigestMatches(const std::vector<char>& content, const std::vector<char>& signature, std::string& failure)
{
    ScopedCryptMessage message(CryptMsgOpenToDecode(kEncoding, CMSG_DETACHED_FLAG, 0, 0, nullptr, nullptr));
    if (!message ||
        !CryptMsgUpdate(message.get(), reinterpret_cast<const BYTE*>(signature.data()), static_cast<DWORD>(signature.size()), TRUE) ||
        !CryptMsgUpdate(message.get(), reinterpret_cast<const BYTE*>(content.data()), static_cast<DWORD>(content.size()), TRUE)) {
        failure = "the signature cannot be decoded (error " + Hex(GetLastError()) + ")";
        return false;
    }
    DWORD size = 0;
    // None signed: the signature covers the content itself.
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, nullptr, &size) || size < sizeof(CRYPT_ATTRIBUTES))
        return true;
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_AUTH_ATTR_PARAM, 0, buffer.data(), &size)) {
        failure = "its signed attributes cannot be read (error " + Hex(GetLastError()) + ")";
        return false;
    }
    const CRYPT_ATTRIBUTES* attributes = reinterpret_cast<const CRYPT_ATTRIBUTES*>(buffer.data());
    if (attributes->cAttr == 0) return true;
    const CRYPT_ATTRIBUTE* digest = nullptr;
    for (DWORD i = 0; i < attributes->cAttr; ++i)
        if (std::string(attributes->rgAttr[i].pszObjId) == szOID_PKCS_9_MESSAGE_DIGEST) digest = &attributes->rgAttr[i];
    if (digest == nullptr || digest->cValue != 1) {
        failure = "its signed attributes carry no digest of the content";
        return false;
    }
    DWORD decodedSize = 0;
    const CRYPT_ATTR_BLOB& value = digest->rgValue[0];
    if (!CryptDecodeObject(X509_ASN_ENCODING, X509_OCTET_STRING, value.pbData, value.cbData, 0, nullptr, &decodedSize)) {
        failure = "its signed digest cannot be read";
        return false;
    }
    std::vector<BYTE> decoded(decodedSize);
    CryptDecodeObject(X509_ASN_ENCODING, X509_OCTET_STRING, value.pbData, value.cbData, 0, decoded.data(), &decodedSize);
    const CRYPT_DATA_BLOB* signedDigest = reinterpret_cast<const CRYPT_DATA_BLOB*>(decoded.data());
    DWORD computedSize = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_COMPUTED_HASH_PARAM, 0, nullptr, &computedSize)) {
        failure = "the content's digest cannot be computed (error " + Hex(GetLastError()) + ")";
        return false;
    }
    std::vector<BYTE> computed(computedSize);
    CryptMsgGetParam(message.get(), CMSG_COMPUTED_HASH_PARAM, 0, computed.data(), &computedSize);
    computed.resize(computedSize);
    if (signedDigest->cbData != computed.size() ||
        !std::equal(computed.begin(), computed.end(), signedDigest->pbData)) {
        failure = "the signed digest is not the content's";
        return false;
    }
    return true;
}

}  // namespace

DetachedVerification VerifyDetachedSignature(const std::vector<char>& content, const std::vector<char>& signature)
{
    DetachedVerification verified;
    if (content.empty() || signature.empty()) {
        verified.failure = content.empty() ? "the document is empty" : "the signature is empty";
        return verified;
    }
    CRYPT_VERIFY_MESSAGE_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.dwMsgAndCertEncodingType = kEncoding;
    const BYTE* parts[] = {reinterpret_cast<const BYTE*>(content.data())};
    DWORD sizes[] = {static_cast<DWORD>(content.size())};
    PCCERT_CONTEXT signerContext = nullptr;
    const BOOL ok = CryptVerifyDetachedMessageSignature(
        &parameters, 0, reinterpret_cast<const BYTE*>(signature.data()), static_cast<DWORD>(signature.size()), 1,
        parts, sizes, &signerContext);
    const DWORD error = GetLastError();
    ScopedCertContext signer(signerContext);
    if (!ok || !signer) {
        verified.failure = "the system's verification failed (error " + Hex(error) + ")";
        return verified;
    }
    if (!SignedDigestMatches(content, signature, verified.failure)) return verified;
    verified.valid = true;

    CRYPT_DATA_BLOB message{static_cast<DWORD>(signature.size()),
                            reinterpret_cast<BYTE*>(const_cast<char*>(signature.data()))};
    ScopedCertStore carried(CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, &message));
    if (!carried) {
        verified.signerFailure = "its certificates cannot be read (error " + Hex(GetLastError()) + ")";
        return verified;
    }
    const ScopedCertContext issuer = FindIssuer(carried.get(), signer.get());
    if (!issuer) {
        verified.signerFailure = "no carried certificate of the issuer signed the signing certificate";
        return verified;
    }
    verified.signer = IdentityOf(signer.get(), issuer.get());
    verified.signerKnown = true;
    return verified;
}

}  // namespace osh
