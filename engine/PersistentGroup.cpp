#include "engine/PersistentGroup.h"

#include "osh/Elevation.h"
#include "osh/PersistentStore.h"
#include "osh/Registry.h"

#include <windows.h>

#include <vector>

namespace ziz {

namespace {

HKEY StoreHive() { return osh::QueryElevation() == 0 ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Value names are at most 16383 characters; data is read with a second, sized call.
bool ReadValueAt(HKEY key, DWORD index, std::wstring& name, std::wstring& value, bool& more)
{
    std::vector<wchar_t> nameBuffer(16384, L'\0');
    DWORD nameLength = static_cast<DWORD>(nameBuffer.size());
    DWORD type = 0;
    DWORD size = 0;
    const LONG status = RegEnumValueW(key, index, nameBuffer.data(), &nameLength, nullptr, &type, nullptr, &size);
    more = status == ERROR_SUCCESS || status == ERROR_MORE_DATA;
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    name.assign(nameBuffer.data(), nameLength);
    std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    value = data.data();
    return true;
}

}  // namespace

void LoadPersistentGroup(const std::wstring& group, std::map<std::wstring, std::wstring>& values)
{
    std::wstring company;
    std::wstring product;
    if (!osh::GetWellKnownValue(L"company", company) || !osh::GetWellKnownValue(L"product", product)) return;
    const std::wstring path = L"SOFTWARE\\" + company + L"\\" + product + L"\\" + group;
    const osh::ScopedKey key = osh::OpenKey(StoreHive(), path, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    if (!key) return;
    bool more = true;
    for (DWORD index = 0; more; ++index) {
        std::wstring name;
        std::wstring value;
        if (ReadValueAt(key.get(), index, name, value, more)) values.emplace(name, value);
    }
}

}  // namespace ziz
