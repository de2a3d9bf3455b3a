#pragma once
// Reader of a file's version resource: its string values per language and code page,
// its translation list and its fixed file information.
#include <windows.h>

#include <string>
#include <vector>

namespace osh {

// The string names a version resource may carry, in their usual spelling.
extern const wchar_t* const kVersionStringNames[12];

// The canonical spelling of name when it is one of kVersionStringNames (ASCII case
// ignored); empty otherwise.
std::wstring CanonicalVersionStringName(const std::wstring& name);

class VersionResource {
public:
    // The running program's own file.
    VersionResource();
    // Any file; a file without a version resource gives an empty reader, never an error.
    explicit VersionResource(const std::wstring& path);

    // The running program's reader, loaded once.
    static const VersionResource& Program();

    // The value of a string name; language and code page 0xFFFF both mean the first
    // translation.
    bool getString(const std::wstring& name, std::wstring& out, WORD language = 0xFFFF,
                   WORD codePage = 0xFFFF) const;

    // The fixed file information; false with out zero-filled when there is none.
    bool getFixedInfo(VS_FIXEDFILEINFO& out) const;

    // The first entry of the translation list.
    bool firstTranslation(WORD& language, WORD& codePage) const;

    bool empty() const { return data_.empty(); }
    // Each entry: low word language id, high word code page.
    const std::vector<DWORD>& translations() const { return translations_; }

private:
    void load(const std::wstring& path);

    std::vector<BYTE> data_;
    std::vector<DWORD> translations_;
};

}  // namespace osh
