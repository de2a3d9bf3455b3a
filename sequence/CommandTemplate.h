#pragma once
// Turning an item's "installCmd" template into the command line that installs it.
// Free of Windows headers: the caller supplies every value.
#include <string>

// Replaces, in this order, "[APP]" (componentFile), "[LOG]" (logFile), "[INSTALLDIR32]",
// "[INSTALLDIR64]" (only when is64BitOs) and "[TEMPDIR]" with the value enclosed in double
// quotes. Placeholders are case-sensitive; every occurrence is replaced; a value inserted
// for an earlier placeholder is searched for the later ones.
std::wstring ExpandCommand(bool is64BitOs, const std::wstring& logFile, const std::wstring& commandTemplate,
                           const std::wstring& componentFile, const std::wstring& installDir32,
                           const std::wstring& installDir64, const std::wstring& tempDir);

// Every non-overlapping occurrence of placeholder, scanned from the left, becomes the
// value in double quotes. An empty placeholder leaves the text unchanged.
std::wstring ReplaceQuoted(const std::wstring& text, const std::wstring& placeholder, const std::wstring& value);
