#include "osh/PersistentStore.h"

#include "osh/Elevation.h"
#include "osh/Exception.h"
#include "osh/Registry.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"
#include "osh/VersionResource.h"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace osh {

namespace {

const wchar_t kReservedGroup[] = L"Reserved";
const wchar_t kSetupGroup[] = L"Setup";

bool IsReservedGroup(const std::wstring& group) { return group.empty() || EqualsIgnoreAsciiCase(group, kReservedGroup); }

// Elevated (or a Windows without elevation): the machine hive; otherwise the user's.
HKEY StoreHive() { return QueryElevation() == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

bool ReadVersionString(const std::wstring& key, std::wstring& out)
{
    const std::wstring name = CanonicalVersionStringName(key);
    if (name.empty()) {
        out.clear();
        return false;
    }
    return VersionResource::Program().getString(name, out);
}

std::wstring RequireReservedValue(const wchar_t* name)
{
    std::wstring value;
    if (!GetPersistentValue(kReservedGroup, name, value))
        throw std::runtime_error("Cannot load persistent group/key (" + Narrow(kReservedGroup) + "," + Narrow(name) + ")");
    return value;
}

// Refuses the read-only group and names the key path of a writable one.
std::vector<std::wstring> WritableGroupPath(const std::wstring& group)
{
    if (IsReservedGroup(group))
        throw std::runtime_error("Cannot change keys in reserved group '" + Narrow(kReservedGroup) + "'");
    const std::wstring company = RequireReservedValue(L"CompanyName");
    const std::wstring product = RequireReservedValue(L"ProductName");
    return {L"SOFTWARE", company, product, group};
}

bool ReadStoreString(HKEY key, const std::wstring& name, std::wstring& out)
{
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return false;
    if (size == 0) {
        out.clear();
        return true;
    }
    if (type != REG_SZ) return false;
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1 + 1, L'\0');
    DWORD room = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &room);
    if (status != ERROR_SUCCESS) return false;
    out = buffer.data();
    return true;
}

}  // namespace

bool GetPersistentValue(const std::wstring& group, const std::wstring& key, std::wstring& out)
{
    if (IsReservedGroup(group)) return ReadVersionString(key, out);

    std::wstring company, product;
    if (!GetWellKnownValue(L"company", company) || !GetWellKnownValue(L"product", product)) return false;

    const std::wstring path = L"SOFTWARE\\" + company + L"\\" + product + L"\\" + group;
    ScopedKey opened;
    if (RegOpenKeyExW(StoreHive(), path.c_str(), 0, KEY_WOW64_64KEY | KEY_QUERY_VALUE, opened.receive()) !=
        ERROR_SUCCESS)
        return false;
    return ReadStoreString(opened.get(), key, out);
}

void SetPersistentValue(const std::wstring& group, const std::wstring& key, const std::wstring& value)
{
    const std::vector<std::wstring> components = WritableGroupPath(group);
    const HKEY hive = StoreHive();
    SetKeyPathString(hive, components, key, value);
    if (hive != HKEY_LOCAL_MACHINE) return;
    // The user's copy lets a later non-elevated run see what the elevated one stored.
    try {
        SetKeyPathString(HKEY_CURRENT_USER, components, key, value);
    } catch (const std::exception&) {
    }
}

void DeletePersistentValue(const std::wstring& group, const std::wstring& key)
{
    const std::vector<std::wstring> components = WritableGroupPath(group);
    ScopedKey opened = CreateKeyPath(StoreHive(), components);
    LONG status = RegDeleteValueW(opened.get(), key.c_str());
    if (status != ERROR_SUCCESS)
        throw win::exception(static_cast<HRESULT>(status), "RegDeleteValue(" + Narrow(key) + ")");
}

bool GetWellKnownValue(const std::wstring& key, std::wstring& out)
{
    if (EqualsIgnoreAsciiCase(key, L"company")) return ReadVersionString(L"CompanyName", out);
    if (EqualsIgnoreAsciiCase(key, L"product")) return ReadVersionString(L"ProductName", out);
    static const wchar_t* const setupKeys[] = {L"DirProgramData", L"DirLastLaunch", L"DirInstall32",
                                               L"DirInstall64",   L"NewestVersion", L"NewestPath"};
    for (const wchar_t* setupKey : setupKeys) {
        if (EqualsIgnoreAsciiCase(key, setupKey)) return GetPersistentValue(kSetupGroup, setupKey, out);
    }
    if (EqualsIgnoreAsciiCase(key, L"DirInstall"))
        return GetPersistentValue(kSetupGroup, L"DirInstall64", out) ||
               GetPersistentValue(kSetupGroup, L"DirInstall32", out);
    out.clear();
    return false;
}

}  // namespace osh
