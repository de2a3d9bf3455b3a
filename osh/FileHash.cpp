#include "osh/FileHash.h"

#include "osh/Exception.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>
#include <wincrypt.h>

namespace osh {

namespace {

constexpr DWORD kBlockSize = 1024;
constexpr DWORD kDigestSize = 16;

[[noreturn]] void ThrowLastError(const std::string& context)
{
    const DWORD error = GetLastError();
    throw win::exception(error, context);
}

void HashFileContent(HANDLE file, HCRYPTHASH hash, const std::string& name)
{
    BYTE block[kBlockSize];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block, kBlockSize, &read, nullptr)) ThrowLastError("ReadFile(" + name + ")");
        if (read == 0) return;
        if (!CryptHashData(hash, block, read, 0)) ThrowLastError("CryptHashData()");
    }
}

std::wstring HexText(const BYTE* bytes, DWORD size)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(size * 2);
    for (DWORD i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

std::wstring CalculateFileHash(const std::wstring& path)
{
    const std::string name = Narrow(path);
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) ThrowLastError("CreateFile(" + name + ")");

    ScopedCryptProvider provider;
    if (!CryptAcquireContextW(provider.receive(), nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        ThrowLastError("CryptAcquireContext()");
    ScopedCryptHash hash;
    if (!CryptCreateHash(provider.get(), CALG_MD5, 0, 0, hash.receive())) ThrowLastError("CryptCreateHash()");

    HashFileContent(file.get(), hash.get(), name);

    BYTE digest[kDigestSize];
    DWORD size = kDigestSize;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0)) ThrowLastError("CryptGetHashParam()");
    return HexText(digest, size);
}

bool CalculateFileHash(const std::wstring& path, std::wstring& out)
{
    out.clear();
    try {
        out = CalculateFileHash(path);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace osh
