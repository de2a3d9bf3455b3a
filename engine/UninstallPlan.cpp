#include "engine/UninstallPlan.h"

#include "osh/Text.h"

#include <algorithm>
#include <set>

namespace ziz {

namespace {

bool IsNumber(const std::wstring& name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Numbers by value (without leading zeros, a longer number is larger), then the rest.
bool RegisteredEarlier(const UninstallEntry& a, const UninstallEntry& b)
{
    const bool aNumber = IsNumber(a.name);
    const bool bNumber = IsNumber(b.name);
    if (aNumber != bNumber) return bNumber;
    if (aNumber) {
        const std::wstring::size_type aStart = std::min(a.name.find_first_not_of(L'0'), a.name.size());
        const std::wstring::size_type bStart = std::min(b.name.find_first_not_of(L'0'), b.name.size());
        const std::wstring::size_type aDigits = a.name.size() - aStart;
        const std::wstring::size_type bDigits = b.name.size() - bStart;
        if (aDigits != bDigits) return aDigits < bDigits;
        const int order = a.name.compare(aStart, aDigits, b.name, bStart, bDigits);
        if (order != 0) return order < 0;
    }
    return a.name < b.name;
}

}  // namespace

std::vector<UninstallEntry> UninstallOrder(const UninstallEntries& entries)
{
    std::vector<UninstallEntry> ordered;
    for (const auto& entry : entries) ordered.push_back(UninstallEntry{entry.first, entry.second});
    std::sort(ordered.begin(), ordered.end(), RegisteredEarlier);
    std::reverse(ordered.begin(), ordered.end());
    return ordered;
}

std::vector<UninstallEntry> RollBackPlan(InstallMode mode, const UninstallEntries& before, const UninstallEntries& now)
{
    if (mode != INSTALL) return {};
    // A component is known by its command: one that was registered before under any number
    // was there before this run, whatever number it has now.
    std::set<std::wstring> earlierCommands;
    for (const auto& entry : before) earlierCommands.insert(entry.second);
    UninstallEntries installedNow;
    for (const auto& entry : now)
        if (earlierCommands.count(entry.second) == 0) installedNow.insert(entry);
    return UninstallOrder(installedNow);
}

std::string RollBackLine(InstallMode mode, const std::vector<UninstallEntry>& plan)
{
    if (mode == UPDATE)
        return "Rolling back nothing: an update keeps the components it updated and the entries of earlier runs";
    if (plan.empty()) return "Rolling back nothing: this run installed no component that registered an uninstall";
    std::wstring line = L"Rolling back what this run installed: ";
    for (std::size_t i = 0; i < plan.size(); ++i) {
        if (i != 0) line += L", ";
        line += L"entry " + plan[i].name + L" (" + plan[i].command + L")";
    }
    return osh::Narrow(line);
}

}  // namespace ziz
