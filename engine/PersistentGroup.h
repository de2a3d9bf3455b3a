#pragma once
// Reading every value of a key-store group, whatever the value names are.
#include <map>
#include <string>

namespace ziz {

// Adds each string value of the group (name -> value) to the map. The group lives where
// the key store keeps it (SOFTWARE\<company>\<product>\<group>, 64-bit view, machine hive
// when elevated). A missing group adds nothing; values of other types are passed over.
void LoadPersistentGroup(const std::wstring& group, std::map<std::wstring, std::wstring>& values);

}  // namespace ziz
