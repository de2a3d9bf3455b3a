#pragma once
// Copying the entries of a directory that match a pattern, each with its whole subtree.
#include <string>

namespace ziz {

// Copies every entry of source matching pattern into target, directories recursively,
// files overwriting what is there (read-only and hidden cleared first, other attributes
// kept). The first failure throws (win::exception or std::runtime_error with the reason);
// what was copied before stays. No match at all throws "FindFirstFile(\"source\\pattern\")".
void TreeCopy(const std::wstring& target, const std::wstring& source, const std::wstring& pattern);

}  // namespace ziz
