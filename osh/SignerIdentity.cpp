#include "osh/SignerIdentity.h"

#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <stdexcept>

namespace osh {

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// Throws with the code the call that has just failed left. Most of these codes are
// cryptography results the system often has no text for, so the text is ours.
[[noreturn]] void Fail(const std::wstring& path, const std::string& what)
{
    const DWORD error = GetLastError();
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(error));
    throw std::runtime_error("Could not read the signer of " + Narrow(path) + ": " + what + " (error " + code + ")");
}

// The first signer's entry of the signed message; vector storage is aligned for the
// structure the system writes into it.
std::vector<BYTE> FirstSignerInfo(HCRYPTMSG message, const std::wstring& path)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size)) Fail(path, "no signer");
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) Fail(path, "no signer");
    return buffer;
}

// The certificate the signer names (issuer and serial number), which must have made the
// message's signature: a decoy certificate with the same names but another key fails.
ScopedCertContext SigningCertificate(HCERTSTORE store, HCRYPTMSG message, const CMSG_SIGNER_INFO& signer,
                                     const std::wstring& path)
{
    CERT_INFO wanted{};
    wanted.Issuer = signer.Issuer;
    wanted.SerialNumber = signer.SerialNumber;
    ScopedCertContext certificate(CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_CERT, &wanted, nullptr));
    if (!certificate) Fail(path, "the signing certificate is missing");
    if (!CryptMsgControl(message, 0, CMSG_CTRL_VERIFY_SIGNATURE, certificate.get()->pCertInfo))
        Fail(path, "the signing certificate did not make the signature");
    return certificate;
}

bool SignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer)
{
    return CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, subject->pbCertEncoded, subject->cbCertEncoded,
                                           &issuer->pCertInfo->SubjectPublicKeyInfo) != FALSE;
}

// Among the carried certificates named as the signing certificate's issuer, the one whose
// key signed it. Only the key counts: anybody can write a certificate with a given name.
ScopedCertContext IssuerCertificate(HCERTSTORE store, PCCERT_CONTEXT signing, const std::wstring& path)
{
    ScopedCertContext candidate;
    for (;;) {
        // The call frees the previous certificate it is given.
        PCCERT_CONTEXT next = CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_NAME,
                                                         &signing->pCertInfo->Issuer, candidate.release());
        if (next == nullptr) break;
        candidate.reset(next);
        if (SignedBy(signing, candidate.get())) return candidate;
    }
    SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    Fail(path, "no carried certificate of the issuer signed the signing certificate");
}

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

SignerIdentity ReadSignerIdentity(const std::wstring& path)
{
    ScopedCertStore store;
    ScopedCryptMessage message;
    DWORD encoding = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(), CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &contentType, &formatType, store.receive(),
                          message.receive(), nullptr)) {
        Fail(path, "no embedded signature");
    }
    const std::vector<BYTE> signerBuffer = FirstSignerInfo(message.get(), path);
    const auto& signer = *reinterpret_cast<const CMSG_SIGNER_INFO*>(signerBuffer.data());
    const ScopedCertContext signing = SigningCertificate(store.get(), message.get(), signer, path);
    const ScopedCertContext issuer = IssuerCertificate(store.get(), signing.get(), path);

    SignerIdentity identity;
    const CERT_NAME_BLOB& subject = signing.get()->pCertInfo->Subject;
    identity.subject.assign(subject.pbData, subject.pbData + subject.cbData);
    identity.subjectText = NameText(subject);
    const CERT_PUBLIC_KEY_INFO& key = issuer.get()->pCertInfo->SubjectPublicKeyInfo;
    identity.issuerKeyAlgorithm = key.Algorithm.pszObjId ? key.Algorithm.pszObjId : "";
    identity.issuerKey.assign(key.PublicKey.pbData, key.PublicKey.pbData + key.PublicKey.cbData);
    return identity;
}

}  // namespace osh
