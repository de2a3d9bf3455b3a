#include "support/PolicyKeyValues.h"

#include "engine/policy/PolicyKey.h"

namespace testsupport {

namespace {

void RemoveKey()
{
    HKEY parent = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Policies\\Norlo\\Norlo 5", 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                      &parent) == ERROR_SUCCESS) {
        RegDeleteTreeW(parent, L"Setup");
        RegCloseKey(parent);
    }
    // The process's own copy of the policies is read again on next use.
    ziz::ForgetRunPolicies();
}

}  // namespace

PolicyKeyScope::PolicyKeyScope() { RemoveKey(); }

PolicyKeyScope::~PolicyKeyScope() { RemoveKey(); }

bool PolicyKeyScope::SetRaw(const std::wstring& name, DWORD type, const void* data, DWORD size) const
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, ziz::kPolicyKeyPath, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool written = RegSetValueExW(key, name.c_str(), 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    ziz::ForgetRunPolicies();
    return written;
}

bool PolicyKeyScope::SetText(const std::wstring& name, const std::wstring& value) const
{
    return SetRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool PolicyKeyScope::SetNumber(const std::wstring& name, DWORD value) const
{
    return SetRaw(name, REG_DWORD, &value, sizeof(value));
}

}  // namespace testsupport
