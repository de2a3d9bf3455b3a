#include "support/TlsServer.h"

#include "support/TestEnvironment.h"

#include "osh/ScopedHandle.h"

#include <windows.h>
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

std::string UpperCase(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::vector<BYTE> ReadBytes(const std::wstring& path)
{
    std::ifstream in(testenv::Narrow(path), std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + testenv::Narrow(path));
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct CertStoreTraits {
    using handle_type = HCERTSTORE;
    static HCERTSTORE Invalid() { return nullptr; }
    static bool IsValid(HCERTSTORE store) { return store != nullptr; }
    static bool Close(HCERTSTORE store) { return CertCloseStore(store, 0) != FALSE; }
};

}  // namespace

const char* TlsCertificateName(TlsCertificate certificate)
{
    switch (certificate) {
    case TlsCertificate::Valid: return "valid";
    case TlsCertificate::Expired: return "expired";
    case TlsCertificate::WrongHost: return "wronghost";
    case TlsCertificate::Untrusted: return "untrusted";
    }
    return "?";
}

std::wstring HttpsServerAddress(TlsCertificate certificate)
{
    const std::string variable = "NORLO_HTTPS_PORT_" + UpperCase(TlsCertificateName(certificate));
    const std::string port = testenv::Variable(variable.c_str());
    if (port.empty()) throw std::runtime_error(variable + " is not set: the harness's TLS server is not running");
    // The name, not 127.0.0.1: the system's name check does not match address entries.
    return testenv::Widen("https://localhost:" + port);
}

void TrustTestAuthority()
{
    const std::string folder = testenv::Variable("NORLO_TLS_DIR");
    if (folder.empty()) throw std::runtime_error("NORLO_TLS_DIR is not set");
    std::vector<BYTE> der = ReadBytes(testenv::WindowsPathOf(folder + "/authority.cer"));
    osh::Scoped<CertStoreTraits> root(
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
    if (!root) {
        const DWORD error = GetLastError();
        throw std::runtime_error("CertOpenStore(Root) failed: " + std::to_string(error));
    }
    if (!CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_USE_EXISTING, nullptr)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("CertAddEncodedCertificateToStore failed: " + std::to_string(error));
    }
}

}  // namespace testsupport
