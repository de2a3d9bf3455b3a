#pragma once
// One component of an install sequence. Free of Windows headers.
#include <map>
#include <string>

struct InstallItem {
    std::wstring Filename;
    std::wstring Version;
    std::wstring Url;
    std::wstring Hash;
    std::wstring LocalPath;
    // Further values ("Order", "installCmd", "viewer", "services", ...); keys compare
    // case-sensitively.
    std::map<std::wstring, std::wstring> Properties;
};
