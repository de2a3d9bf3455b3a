#include "osh/PathCompare.h"

#include <windows.h>

namespace osh {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

int ComparePaths(const std::wstring& a, const std::wstring& b)
{
    // Arguments are valid by construction, so the only answers are the three orders.
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) -
           CSTR_EQUAL;
}

bool SamePath(const std::wstring& a, const std::wstring& b) { return ComparePaths(a, b) == 0; }

bool PathStartsWith(const std::wstring& path, const std::wstring& prefix)
{
    return path.size() >= prefix.size() && SamePath(path.substr(0, prefix.size()), prefix);
}

bool IsPathInside(const std::wstring& path, const std::wstring& directory)
{
    if (directory.empty() || !PathStartsWith(path, directory)) return false;
    if (IsSeparator(directory.back())) return path.size() > directory.size();
    return path.size() > directory.size() + 1 && IsSeparator(path[directory.size()]);
}

}  // namespace osh
