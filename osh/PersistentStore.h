#pragma once
// The persistent group/key store: string values under SOFTWARE\<company>\<product>\<group>
// in the 64-bit registry view, in the machine hive when the process is elevated and in the
// user hive otherwise. Company and product come from the program's version resource.
// The group "Reserved" (and the empty group) is read-only and answers from that resource.
#include <string>

namespace osh {

// True when the value exists as a string (out holds it). Never throws for missing keys,
// values, wrong types or denied access.
bool GetPersistentValue(const std::wstring& group, const std::wstring& key, std::wstring& out);

// Writes the value; an elevated write is mirrored into the user hive. Throws on failure.
void SetPersistentValue(const std::wstring& group, const std::wstring& key, const std::wstring& value);

// Removes the value from the store hive; a missing value throws too.
void DeletePersistentValue(const std::wstring& group, const std::wstring& key);

// The well-known names: "company", "product", the "Setup" directories and versions, and
// "DirInstall" (DirInstall64, else DirInstall32).
bool GetWellKnownValue(const std::wstring& key, std::wstring& out);

}  // namespace osh
