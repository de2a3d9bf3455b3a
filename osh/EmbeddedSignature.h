#pragma once
// The Authenticode signature embedded in a program, verified by the system's trust
// provider on the file's own bytes (a system catalog's verdict does not count here), and
// the signer as that verification established it. Who signed a file decides whether this
// program hands over to it, so the signer is taken from the signature that was verified,
// never from a separate reading of the file's signature block.
#include "osh/SignerIdentity.h"

#include <string>

#include <windows.h>

namespace osh {

enum class SignatureState {
    Absent,   // the program carries no signature at all (its certificate table is empty)
    Valid,    // the system verified it
    Invalid,  // present but it does not verify, or the file is not a readable program
};

struct VerifiedSignature {
    SignatureState state = SignatureState::Invalid;
    std::string reason;         // why it is not Valid ("the system's verdict 0x800B0100", ...)
    bool signerKnown = false;   // Valid, and its signer could be read from the verification
    SignerIdentity signer;
    std::string signerFailure;  // why the signer is unknown, for log lines
};

// Verifies the open file (read through the handle, not by path; path is what the system is
// told besides). Never throws.
VerifiedSignature VerifyEmbeddedSignature(HANDLE file, const std::wstring& path);

// The same for a file opened here for reading; a file that cannot be opened is Invalid.
VerifiedSignature VerifyEmbeddedSignature(const std::wstring& path);

}  // namespace osh
