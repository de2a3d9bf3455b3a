#pragma once
// One component of an install sequence. Free of Windows headers.
#include <map>
#include <string>
#include <vector>

struct InstallItem {
    // The fixed fields; a document names them in any letter case.
    std::wstring Filename;
    std::wstring Version;
    std::wstring Url;
    std::wstring Hash;    // MD5, hexadecimal
    std::wstring Sha256;  // SHA-256, hexadecimal; empty in older documents
    std::wstring Size;    // the file's size in bytes as written; empty in older documents
    std::wstring LocalPath;
    // Further addresses of the same file (a document's "mirror" values, in document order),
    // asked in turn when Url fails.
    std::vector<std::wstring> Mirrors;
    // Further values ("Order", "installCmd", "viewer", "services", ...); keys compare
    // case-sensitively.
    std::map<std::wstring, std::wstring> Properties;

    void SetLocalPath(const std::wstring& path) { LocalPath = path; }

    // A name that matches a fixed field ignoring case sets that field; any other name is
    // stored in Properties as written, the last value for a name winning. A "mirror" (any
    // case) adds an address to Mirrors instead.
    void SetProperty(const std::wstring& name, const std::wstring& value);

    // Properties first (exact case), then the fixed fields (any case, even when empty).
    // Clears out and returns false when neither knows the name.
    bool GetProperty(const std::wstring& name, std::wstring& out) const;

    // Url, then the mirrors, without empty entries and repeats: the order they are asked in.
    std::vector<std::wstring> Addresses() const;

private:
    std::wstring* FixedField(const std::wstring& name);
    const std::wstring* FixedField(const std::wstring& name) const;
};
