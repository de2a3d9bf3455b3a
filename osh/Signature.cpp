#include "osh/Signature.h"

#include "osh/ScopedHandle.h"

#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <mscat.h>
#include <softpub.h>

#include <vector>

namespace osh {

namespace {

bool FileHashForCatalog(HANDLE file, std::vector<BYTE>& hash)
{
    DWORD size = 0;
    if (!CryptCATAdminCalcHashFromFileHandle(file, &size, nullptr, 0) || size == 0) return false;
    hash.resize(size);
    if (!CryptCATAdminCalcHashFromFileHandle(file, &size, hash.data(), 0)) return false;
    hash.resize(size);
    return size != 0;
}

std::wstring MemberTag(const std::vector<BYTE>& hash)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring tag;
    for (BYTE byte : hash) {
        tag += digits[byte >> 4];
        tag += digits[byte & 0x0F];
    }
    return tag;
}

// The catalog that lists the file, if the system knows one; its path lands in info.
ScopedCatalogContext FindCatalog(HCATADMIN admin, std::vector<BYTE>& hash, CATALOG_INFO& info)
{
    ScopedCatalogContext catalog(
        CatalogContext{admin, CryptCATAdminEnumCatalogFromHash(admin, hash.data(), static_cast<DWORD>(hash.size()), 0,
                                                              nullptr)});
    if (!catalog) return ScopedCatalogContext();
    info = CATALOG_INFO{};
    info.cbStruct = sizeof(info);
    if (!CryptCATCatalogInfoFromContext(catalog.get().info, &info, 0)) return ScopedCatalogContext();
    return catalog;
}

// The hashing calls read from where the handle stands; a handle that was read before is
// put back at its first byte.
bool RewindFile(HANDLE file)
{
    LARGE_INTEGER start{};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != FALSE;
}

LONG Verify(WINTRUST_DATA& data)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return WinVerifyTrust(nullptr, &action, &data);
}

}  // namespace

bool CheckFileSignature(const std::wstring& path)
{
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    return file && CheckFileSignature(file.get(), path);
}

bool CheckFileSignature(HANDLE file, const std::wstring& path)
{
    ScopedCatalogAdmin admin;
    if (!CryptCATAdminAcquireContext(admin.receive(), nullptr, 0)) return false;

    std::vector<BYTE> hash;
    if (!RewindFile(file) || !FileHashForCatalog(file, hash) || !RewindFile(file)) return false;
    const std::wstring tag = MemberTag(hash);

    CATALOG_INFO catalogInfo{};
    ScopedCatalogContext catalog = FindCatalog(admin.get(), hash, catalogInfo);

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    WINTRUST_CATALOG_INFO catalogMember{};
    WINTRUST_FILE_INFO fileInfo{};
    if (catalog) {
        catalogMember.cbStruct = sizeof(catalogMember);
        catalogMember.dwCatalogVersion = 0;
        catalogMember.pcwszCatalogFilePath = catalogInfo.wszCatalogFile;
        catalogMember.pcwszMemberTag = tag.c_str();
        catalogMember.pcwszMemberFilePath = path.c_str();
        catalogMember.hMemberFile = file;
        data.dwUnionChoice = WTD_CHOICE_CATALOG;
        data.pCatalog = &catalogMember;
        data.dwStateAction = WTD_STATEACTION_VERIFY;
        data.dwProvFlags = 0;
    } else {
        fileInfo.cbStruct = sizeof(fileInfo);
        fileInfo.pcwszFilePath = path.c_str();
        fileInfo.hFile = file;
        data.dwUnionChoice = WTD_CHOICE_FILE;
        data.pFile = &fileInfo;
        data.dwStateAction = WTD_STATEACTION_IGNORE;
        data.dwProvFlags = WTD_SAFER_FLAG;
    }

    const LONG result = Verify(data);
    if (data.dwStateAction == WTD_STATEACTION_VERIFY) {
        // Releases the provider state the verification kept, whatever its verdict, before
        // the catalog it refers to.
        data.dwStateAction = WTD_STATEACTION_CLOSE;
        Verify(data);
    }
    catalog.reset();
    // Only the system's plain success is a verdict of trust; no other answer counts.
    return result == ERROR_SUCCESS;
}

}  // namespace osh
