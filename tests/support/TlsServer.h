#pragma once
// The harness's TLS server (tests/harness/start.sh): the served folder of the HTTP server
// over https, on one port per certificate, and the test authority that issued the
// certificates, which only the test prefix trusts.
#include <string>

namespace testsupport {

enum class TlsCertificate {
    Valid,      // localhost, issued by the test authority
    Expired,    // localhost, issued by the test authority, valid only in 2020
    WrongHost,  // issued by the test authority for "other-host.invalid"
    Untrusted,  // localhost, self-signed
};

// "valid", "expired", "wronghost", "untrusted".
const char* TlsCertificateName(TlsCertificate certificate);

// "https://localhost:<port>" of the listener presenting that certificate; throws
// std::runtime_error when the harness did not start the server.
std::wstring HttpsServerAddress(TlsCertificate certificate);

// Adds the test authority to the machine's Root store of this Wine prefix (again is
// harmless); throws std::runtime_error when that fails.
void TrustTestAuthority();

}  // namespace testsupport
