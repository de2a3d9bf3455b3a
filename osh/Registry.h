#pragma once
// Registry calls with the library's error conventions. The plain wrappers pass the
// caller's access unchanged (the caller picks the registry view); the key-path helpers
// always work in the 64-bit view.
#include <windows.h>

#include "osh/ScopedHandle.h"

#include <string>
#include <vector>

namespace osh {

// RegCreateKeyExW; className is passed only when non-empty, disposition written when
// asked. Throws win::exception "RegCreateKeyEx(<subKey>)".
ScopedKey CreateKey(HKEY root, const std::wstring& subKey, const std::wstring& className, DWORD options,
                    REGSAM access, SECURITY_ATTRIBUTES* security, DWORD* disposition);

// RegOpenKeyExW; a missing key gives an empty ScopedKey, other failures throw
// win::exception "RegOpenKeyEx(<subKey>)".
ScopedKey OpenKey(HKEY root, const std::wstring& subKey, REGSAM access);

// Reads a REG_SZ / REG_EXPAND_SZ value (unexpanded). False when the value is missing or
// empty; a value of another type throws "Invalid data type for RegQueryValue()".
bool QueryString(HKEY key, const std::wstring& name, std::wstring& out);

// Writes a REG_SZ value with its terminating NUL.
void SetString(HKEY key, const std::wstring& name, const std::wstring& value);

// Creates or opens root\components[0]\...\components[n-1] in the 64-bit view, closing
// each intermediate key as it goes; the caller owns the deepest key.
ScopedKey CreateKeyPath(HKEY root, const std::vector<std::wstring>& components);

// CreateKeyPath, then a REG_SZ write of name = value into the deepest key.
void SetKeyPathString(HKEY root, const std::vector<std::wstring>& components, const std::wstring& name,
                      const std::wstring& value);

// "[HKEY_LOCAL_MACHINE]" and so on for the predefined roots, "[?]" for any other key.
std::string RootKeyName(HKEY root);

// A fresh GUID as "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case; false (out
// cleared) when none could be made.
bool CreateGuidString(std::wstring& out);

}  // namespace osh
