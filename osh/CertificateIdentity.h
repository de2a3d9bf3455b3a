#pragma once
// The publisher identity of a verified signature, read from its signing certificate and the
// certificate that issued it (the embedded signature of a program and the detached
// signature of the update document judge signers the same way).
#include "osh/SignerIdentity.h"

#include <windows.h>
#include <wincrypt.h>

namespace osh {

// True when issuer's key signed subject's certificate. Anybody can write a certificate
// with a given name: only the key counts.
bool SignedBy(PCCERT_CONTEXT subject, PCCERT_CONTEXT issuer);

// The signing certificate's subject and the issuer's public key.
SignerIdentity IdentityOf(PCCERT_CONTEXT signing, PCCERT_CONTEXT issuer);

}  // namespace osh
