#include "osh/VersionResource.h"

#include "osh/SystemInfo.h"
#include "osh/Text.h"

#include <cstdio>
#include <cstring>

namespace osh {

const wchar_t* const kVersionStringNames[12] = {
    L"Comments",       L"InternalName",    L"ProductName",     L"CompanyName",
    L"LegalCopyright", L"ProductVersion",  L"FileDescription", L"LegalTrademarks",
    L"PrivateBuild",   L"FileVersion",     L"OriginalFilename", L"SpecialBuild",
};

std::wstring CanonicalVersionStringName(const std::wstring& name)
{
    for (const wchar_t* known : kVersionStringNames) {
        if (EqualsIgnoreAsciiCase(name, known)) return known;
    }
    return L"";
}

VersionResource::VersionResource() { load(ModuleFileName(nullptr)); }

VersionResource::VersionResource(const std::wstring& path) { load(path); }

const VersionResource& VersionResource::Program()
{
    static const VersionResource program;
    return program;
}

void VersionResource::load(const std::wstring& path)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return;
    std::vector<BYTE> data(static_cast<size_t>(size) + 1, 0);
    if (!GetFileVersionInfoW(path.c_str(), handle, size + 1, data.data())) return;
    data_.swap(data);

    void* block = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), L"\\VarFileInfo\\Translation", &block, &length) || block == nullptr) return;
    const DWORD* entries = static_cast<const DWORD*>(block);
    translations_.assign(entries, entries + length / sizeof(DWORD));
}

bool VersionResource::firstTranslation(WORD& language, WORD& codePage) const
{
    if (translations_.empty()) return false;
    language = LOWORD(translations_[0]);
    codePage = HIWORD(translations_[0]);
    return true;
}

bool VersionResource::getString(const std::wstring& name, std::wstring& out, WORD language, WORD codePage) const
{
    out.clear();
    if (data_.empty() || translations_.empty()) return false;
    if (language == 0xFFFF && codePage == 0xFFFF) firstTranslation(language, codePage);

    wchar_t block[16];
    swprintf(block, 16, L"%04X%04X", language, codePage);
    const std::wstring subBlock = L"\\StringFileInfo\\" + std::wstring(block) + L"\\" + name;

    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), subBlock.c_str(), &value, &length) || value == nullptr) return false;
    const wchar_t* text = static_cast<const wchar_t*>(value);
    out.assign(text, wcsnlen(text, length));
    return true;
}

bool VersionResource::getFixedInfo(VS_FIXEDFILEINFO& out) const
{
    std::memset(&out, 0, sizeof(out));
    if (data_.empty() || translations_.empty()) return false;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data_.data(), L"\\", &value, &length) || value == nullptr) return false;
    std::memcpy(&out, value, length < sizeof(out) ? length : sizeof(out));
    return true;
}

}  // namespace osh
