#include "support/StoreKeys.h"

#include <stdexcept>
#include <vector>

namespace testsupport {

std::wstring StoreGroupPath(const std::wstring& group) { return L"SOFTWARE\\Norlo\\Norlo 5\\" + group; }

bool ReadStoreString(HKEY hive, REGSAM view, const std::wstring& group, const std::wstring& name,
                     std::wstring& out)
{
    out.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, StoreGroupPath(group).c_str(), 0, view | KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
    if (status == ERROR_SUCCESS && type == REG_SZ)
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    out = buffer.data();
    return true;
}

void WriteStoreValue(HKEY hive, const std::wstring& group, const std::wstring& name, DWORD type, const void* data,
                     DWORD size)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(hive, StoreGroupPath(group).c_str(), 0, nullptr, 0, KEY_WOW64_64KEY | KEY_SET_VALUE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("test set-up: cannot create the store group key");
    LONG status = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) throw std::runtime_error("test set-up: cannot write the store value");
}

void DeleteStoreValue(HKEY hive, const std::wstring& group, const std::wstring& name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, StoreGroupPath(group).c_str(), 0, KEY_WOW64_64KEY | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

void DeleteStoreGroup(HKEY hive, const std::wstring& group)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, StoreGroupPath(group).c_str(), 0,
                      KEY_WOW64_64KEY | DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &key) != ERROR_SUCCESS)
        return;
    RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    RegDeleteKeyExW(hive, StoreGroupPath(group).c_str(), KEY_WOW64_64KEY, 0);
}

SavedStoreValue::SavedStoreValue(const std::wstring& group, const std::wstring& name)
    : group_(group), name_(name), saved_{{HKEY_LOCAL_MACHINE, false, L""}, {HKEY_CURRENT_USER, false, L""}}
{
    for (Saved& saved : saved_)
        saved.present = ReadStoreString(saved.hive, KEY_WOW64_64KEY, group_, name_, saved.value);
}

SavedStoreValue::~SavedStoreValue()
{
    for (const Saved& saved : saved_) {
        try {
            if (saved.present)
                WriteStoreValue(saved.hive, group_, name_, REG_SZ, saved.value.c_str(),
                                static_cast<DWORD>((saved.value.size() + 1) * sizeof(wchar_t)));
            else
                DeleteStoreValue(saved.hive, group_, name_);
        } catch (const std::exception&) {
            // Nothing more a destructor can do; the next run starts from what is left.
        }
    }
}

}  // namespace testsupport
