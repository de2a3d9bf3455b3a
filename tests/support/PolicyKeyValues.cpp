#include "support/PolicyKeyValues.h"

#include "engine/policy/PolicyKey.h"
#include "support/TestEnvironment.h"

#include <sddl.h>

namespace testsupport {

namespace {

bool SetAccessList(const wchar_t* sddl)
{
    HKEY key = nullptr;
    // The owner may always change the list, whatever it refuses.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, ziz::kPolicyKeyPath, 0, WRITE_DAC | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
        return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    bool set = ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr) &&
               RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    LocalFree(descriptor);
    RegCloseKey(key);
    return set;
}

void RemoveKey()
{
    // A key a test locked must not keep every later run in the prefix from reading policies.
    SetAccessList(L"D:(A;;KA;;;WD)");
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

bool PolicyKeyScope::DenyReading() const
{
    const bool denied = SetAccessList(L"D:P(D;;KR;;;WD)(A;;KA;;;WD)");
    ziz::ForgetRunPolicies();
    return denied;
}

bool PolicyKeyScope::SetText(const std::wstring& name, const std::wstring& value) const
{
    return SetRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool PolicyKeyScope::SetNumber(const std::wstring& name, DWORD value) const
{
    return SetRaw(name, REG_DWORD, &value, sizeof(value));
}

std::string UnreadableKeyLine(DWORD error)
{
    LPWSTR buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                            FORMAT_MESSAGE_FROM_SYSTEM,
                                        nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::wstring text = buffer != nullptr ? std::wstring(buffer, length) : L"";
    LocalFree(buffer);
    text.erase(text.find_last_not_of(L"\r\n ") + 1);
    return "The policy key HKLM\\SOFTWARE\\Policies\\Norlo\\Norlo 5\\Setup cannot be read (" +
           testenv::Narrow(text) + "); nothing is done";
}

}  // namespace testsupport
