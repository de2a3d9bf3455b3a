#include "osh/CertificateIdentity.h"

#include "osh/Text.h"

namespace osh {

namespace {

std::string NameText(const CERT_NAME_BLOB& name)
{
    CERT_NAME_BLOB copy = name;
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, &copy, CERT_X500_NAME_STR, nullptr, 0);
    if (size <= 1) return std::string();
    std::wstring text(size, L'\0');
    CertNameToStrW(X509_ASN_ENCODING, &copy, CERT_X500_NAME_STR, &text[0], size);
    text.resize(size - 1);
    return Narrow(text);
}

}  // namespace

bool SignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer)
{
    return CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, subject->pbCertEncoded, subject->cbCertEncoded,
                                           &issuer->pCertInfo->SubjectPublicKeyInfo) != FALSE;
}

SignerIdentity IdentityOf(PCCERT_CONTEXT signing, PCCERT_CONTEXT issuer)
{
    SignerIdentity identity;
    const CERT_NAME_BLOB& subject = signing->pCertInfo->Subject;
    identity.subject.assign(subject.pbData, subject.pbData + subject.cbData);
    identity.subjectText = NameText(subject);
    const CERT_PUBLIC_KEY_INFO& key = issuer->pCertInfo->SubjectPublicKeyInfo;
    identity.issuerKeyAlgorithm = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    identity.issuerKey.assign(key.PublicKey.pbData, key.PublicKey.pbData + key.PublicKey.cbData);
    return identity;
}

}  // namespace osh
