#pragma once
// Which registered uninstall commands a run executes, and in what order. Decisions only:
// the states read the key store and run the commands. Free of Windows headers.
#include "engine/InstallMode.h"

#include <map>
#include <string>
#include <vector>

namespace ziz {

struct UninstallEntry {
    std::wstring name;     // the entry's number in the key store ("0", "1", ...)
    std::wstring command;  // the command line a component registered

    bool operator==(const UninstallEntry& other) const { return name == other.name && command == other.command; }
};

using UninstallEntries = std::map<std::wstring, std::wstring>;

// Last registered first: the entries by number, highest first ("10" before "9"); names
// that are not numbers, which no component writes, come after them in reverse text order.
std::vector<UninstallEntry> UninstallOrder(const UninstallEntries& entries);

// What a failed install or update undoes, given the entries registered before its installs
// and now. INSTALL: the entries whose command was registered by none of the earlier
// entries, last registered first; whatever was there before stays. UPDATE: nothing, since
// an upgraded package uninstalled would leave neither its old nor its new version, and
// the failing installer's own transaction restores what it touched. Other modes: nothing.
std::vector<UninstallEntry> RollBackPlan(InstallMode mode, const UninstallEntries& before, const UninstallEntries& now);

// The log line that says what a roll-back will remove, or that it removes nothing and why.
std::string RollBackLine(InstallMode mode, const std::vector<UninstallEntry>& plan);

}  // namespace ziz
