#include "osh/EmbeddedSignature.h"

#include "osh/CertificateIdentity.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace osh {

namespace {

std::string Hex(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

bool ReadAt(HANDLE file, LONGLONG offset, void* buffer, DWORD size)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, &at) && read == size;
}

enum class CertificateTable { Empty, Present, Unreadable };

// The program's security data directory names where its signatures lie; an empty one
// means that nobody signed it. Decided from the headers, not from the trust provider's
// answer, which does not tell a missing signature from a damaged one everywhere.
CertificateTable ReadCertificateTable(HANDLE file)
{
    IMAGE_DOS_HEADER dos{};
    if (!ReadAt(file, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0)
        return CertificateTable::Unreadable;
    DWORD signature = 0;
    IMAGE_FILE_HEADER header{};
    if (!ReadAt(file, dos.e_lfanew, &signature, sizeof(signature)) || signature != IMAGE_NT_SIGNATURE ||
        !ReadAt(file, dos.e_lfanew + sizeof(signature), &header, sizeof(header)))
        return CertificateTable::Unreadable;
    const LONGLONG optional = dos.e_lfanew + sizeof(signature) + sizeof(header);
    IMAGE_OPTIONAL_HEADER64 wide{};
    const DWORD size = header.SizeOfOptionalHeader < sizeof(wide) ? header.SizeOfOptionalHeader : sizeof(wide);
    if (size < sizeof(WORD) || !ReadAt(file, optional, &wide, size)) return CertificateTable::Unreadable;
    DWORD directories = 0;
    IMAGE_DATA_DIRECTORY security{};
    std::size_t securityEnd = 0;  // where the security entry ends in the optional header
    if (wide.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        directories = wide.NumberOfRvaAndSizes;
        security = wide.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
        securityEnd = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY + 1]);
    } else if (wide.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        IMAGE_OPTIONAL_HEADER32 narrow{};
        std::memcpy(&narrow, &wide, sizeof(narrow));
        directories = narrow.NumberOfRvaAndSizes;
        security = narrow.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
        securityEnd = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY + 1]);
    } else {
        return CertificateTable::Unreadable;
    }
    // A header too short to hold the entry has no certificate table.
    if (directories <= IMAGE_DIRECTORY_ENTRY_SECURITY || securityEnd > size) return CertificateTable::Empty;
    return security.Size == 0 && security.VirtualAddress == 0 ? CertificateTable::Empty : CertificateTable::Present;
}


[[noreturn]] void Fail(const std::wstring& path, const std::string& what, DWORD code)
{
    throw std::runtime_error("Could not read the signer of " + Narrow(path) + ": " + what + " (error " + Hex(code) +
                             ")");
}

// The signer the provider verified: its signing certificate, and the next certificate of
// the chain the provider built for it, which must have signed it (a self-signed
// certificate is its own issuer). Anybody can write a certificate with a given name: only
// the key counts.
SignerIdentity VerifiedSigner(HANDLE state, const std::wstring& path)
{
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(state);
    CRYPT_PROVIDER_SGNR* signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer == nullptr || signer->csCertChain == 0) Fail(path, "the verification kept no signer", GetLastError());
    const CRYPT_PROVIDER_CERT* signing = WTHelperGetProvCertFromChain(signer, 0);
    const CRYPT_PROVIDER_CERT* issuer = signer->csCertChain > 1 ? WTHelperGetProvCertFromChain(signer, 1) : signing;
    if (signing == nullptr || signing->pCert == nullptr || issuer == nullptr || issuer->pCert == nullptr)
        Fail(path, "the verification kept no signing certificate", GetLastError());
    if (!SignedBy(signing->pCert, issuer->pCert))
        Fail(path, "no carried certificate of the issuer signed the signing certificate",
             static_cast<DWORD>(CRYPT_E_NOT_FOUND));

    return IdentityOf(signing->pCert, issuer->pCert);
}

// One verification of the embedded signature; the provider's state lives until the
// object goes, so the signer can be read from it.
class Verification {
public:
    Verification(HANDLE file, const std::wstring& path)
    {
        fileInfo_.cbStruct = sizeof(fileInfo_);
        fileInfo_.pcwszFilePath = path.c_str();
        fileInfo_.hFile = file;
        data_.cbStruct = sizeof(data_);
        data_.dwUIChoice = WTD_UI_NONE;
        data_.fdwRevocationChecks = WTD_REVOKE_NONE;
        data_.dwUnionChoice = WTD_CHOICE_FILE;
        data_.pFile = &fileInfo_;
        data_.dwStateAction = WTD_STATEACTION_VERIFY;
        result_ = Call();
    }
    ~Verification()
    {
        data_.dwStateAction = WTD_STATEACTION_CLOSE;
        Call();
    }
    Verification(const Verification&) = delete;
    Verification& operator=(const Verification&) = delete;

    LONG Result() const { return result_; }
    HANDLE State() const { return data_.hWVTStateData; }

private:
    LONG Call()
    {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        return WinVerifyTrust(nullptr, &action, &data_);
    }

    WINTRUST_FILE_INFO fileInfo_{};
    WINTRUST_DATA data_{};
    LONG result_ = 0;
};

bool Rewind(HANDLE file)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

}  // namespace

VerifiedSignature VerifyEmbeddedSignature(HANDLE file, const std::wstring& path)
{
    VerifiedSignature verified;
    const CertificateTable table = ReadCertificateTable(file);
    if (table == CertificateTable::Unreadable || !Rewind(file)) {
        verified.reason = "not a program whose headers can be read";
        verified.signerFailure = verified.reason;
        return verified;
    }
    const Verification verification(file, path);
    if (verification.Result() != ERROR_SUCCESS) {
        verified.state = table == CertificateTable::Empty ? SignatureState::Absent : SignatureState::Invalid;
        verified.reason = table == CertificateTable::Empty
                              ? "it carries no signature"
                              : "its signature does not verify (" + Hex(static_cast<DWORD>(verification.Result())) + ")";
        verified.signerFailure = verified.reason;
        return verified;
    }
    verified.state = SignatureState::Valid;
    try {
        verified.signer = VerifiedSigner(verification.State(), path);
        verified.signerKnown = true;
    } catch (const std::exception& error) {
        verified.signerFailure = error.what();
    }
    return verified;
}

VerifiedSignature VerifyEmbeddedSignature(const std::wstring& path)
{
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        VerifiedSignature verified;
        verified.reason = "it cannot be opened (error " + Hex(GetLastError()) + ")";
        verified.signerFailure = verified.reason;
        return verified;
    }
    return VerifyEmbeddedSignature(file.get(), path);
}

}  // namespace osh
