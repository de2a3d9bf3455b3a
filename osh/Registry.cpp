#include "osh/Registry.h"

#include "osh/Exception.h"
#include "osh/Text.h"

#include <objbase.h>

#include <cstdio>
#include <stdexcept>

namespace osh {

namespace {

// Registry functions return their error; the library reports it in the HRESULT flavour.
[[noreturn]] void ThrowStatus(LONG status, const std::string& context)
{
    throw win::exception(static_cast<HRESULT>(status), context);
}

DWORD ByteCountWithNul(const std::wstring& value)
{
    return static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
}

}  // namespace

ScopedKey CreateKey(HKEY root, const std::wstring& subKey, const std::wstring& className, DWORD options,
                    REGSAM access, SECURITY_ATTRIBUTES* security, DWORD* disposition)
{
    ScopedKey key;
    LONG status = RegCreateKeyExW(root, subKey.c_str(), 0,
                                  className.empty() ? nullptr : const_cast<wchar_t*>(className.c_str()), options,
                                  access, security, key.receive(), disposition);
    if (status != ERROR_SUCCESS) ThrowStatus(status, "RegCreateKeyEx(" + Narrow(subKey) + ")");
    return key;
}

ScopedKey OpenKey(HKEY root, const std::wstring& subKey, REGSAM access)
{
    ScopedKey key;
    LONG status = RegOpenKeyExW(root, subKey.c_str(), 0, access, key.receive());
    if (status == ERROR_FILE_NOT_FOUND) return ScopedKey();
    if (status != ERROR_SUCCESS) ThrowStatus(status, "RegOpenKeyEx(" + Narrow(subKey) + ")");
    return key;
}

bool QueryString(HKEY key, const std::wstring& name, std::wstring& out)
{
    out.clear();
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) return false;
    if (status != ERROR_SUCCESS) ThrowStatus(status, "RegQueryValueEx(" + Narrow(name) + ")");
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw std::runtime_error("Invalid data type for RegQueryValue()");
    if (size == 0) return false;

    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    DWORD read = size;
    status = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &read);
    if (status != ERROR_SUCCESS) ThrowStatus(status, "RegQueryValue(" + Narrow(name) + ")");
    out = buffer.c_str();
    return read != 0;
}

void SetString(HKEY key, const std::wstring& name, const std::wstring& value)
{
    LONG status = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 ByteCountWithNul(value));
    if (status != ERROR_SUCCESS) ThrowStatus(status, "RegSetValueEx(" + Narrow(name) + ")");
}

ScopedKey CreateKeyPath(HKEY root, const std::vector<std::wstring>& components)
{
    std::string display = RootKeyName(root);
    ScopedKey current;  // owns the intermediate keys, never the root
    HKEY parent = root;
    for (const std::wstring& component : components) {
        display += "\\" + Narrow(component);
        HKEY next = nullptr;
        LONG status = RegCreateKeyExW(parent, component.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_WRITE | KEY_WOW64_64KEY, nullptr, &next, nullptr);
        current.reset(status == ERROR_SUCCESS ? next : nullptr);
        if (status != ERROR_SUCCESS)
            throw win::exception(static_cast<DWORD>(status), "RegCreateKeyEx(" + display + ")");
        parent = next;
    }
    return current;
}

void SetKeyPathString(HKEY root, const std::vector<std::wstring>& components, const std::wstring& name,
                      const std::wstring& value)
{
    ScopedKey key = CreateKeyPath(root, components);
    LONG status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 ByteCountWithNul(value));
    if (status != ERROR_SUCCESS) ThrowStatus(status, "RegSetValueEx(" + Narrow(name) + "," + Narrow(value) + ")");
}

std::string RootKeyName(HKEY root)
{
    struct Entry {
        HKEY root;
        const char* text;
    };
    static const Entry table[] = {
        {HKEY_CLASSES_ROOT, "[HKEY_CLASSES_ROOT]"},
        {HKEY_CURRENT_USER, "[HKEY_CURRENT_USER]"},
        {HKEY_LOCAL_MACHINE, "[HKEY_LOCAL_MACHINE]"},
        {HKEY_USERS, "[HKEY_USERS]"},
        {HKEY_PERFORMANCE_DATA, "[HKEY_PERFORMANCE_DATA]"},
        {HKEY_CURRENT_CONFIG, "[HKEY_CURRENT_CONFIG]"},
        {HKEY_DYN_DATA, "[HKEY_DYN_DATA]"},
        {HKEY_PERFORMANCE_TEXT, "[HKEY_PERFORMANCE_TEXT]"},
        {HKEY_PERFORMANCE_NLSTEXT, "[HKEY_PERFORMANCE_NLSTEXT]"},
    };
    for (const Entry& entry : table) {
        if (entry.root == root) return entry.text;
    }
    return "[?]";
}

bool CreateGuidString(std::wstring& out)
{
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) {
        out.clear();
        return false;
    }
    wchar_t text[40];
    swprintf(text, 40, L"{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}", static_cast<unsigned long>(guid.Data1),
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
             guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    out = text;
    return !out.empty();
}

}  // namespace osh
