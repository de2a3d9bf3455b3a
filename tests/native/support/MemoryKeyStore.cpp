// The native build's persistent key store: the registry-backed store is Windows-only, so
// the engine base class's numbered lists keep their values in process memory here.
#include "osh/PersistentStore.h"

#include <map>
#include <stdexcept>
#include <utility>

namespace osh {

namespace {

using StoreKey = std::pair<std::wstring, std::wstring>;

std::map<StoreKey, std::wstring>& Values()
{
    static std::map<StoreKey, std::wstring> values;
    return values;
}

bool IsReadOnlyGroup(const std::wstring& group) { return group.empty() || group == L"Reserved"; }

}  // namespace

bool GetPersistentValue(const std::wstring& group, const std::wstring& key, std::wstring& out)
{
    const auto found = Values().find({group, key});
    if (found == Values().end()) return false;
    out = found->second;
    return true;
}

void SetPersistentValue(const std::wstring& group, const std::wstring& key, const std::wstring& value)
{
    if (IsReadOnlyGroup(group)) throw std::runtime_error("The group is read-only");
    Values()[{group, key}] = value;
}

void DeletePersistentValue(const std::wstring& group, const std::wstring& key)
{
    if (Values().erase({group, key}) == 0) throw std::runtime_error("No such value");
}

bool GetWellKnownValue(const std::wstring&, std::wstring& out)
{
    out.clear();
    return false;
}

}  // namespace osh
