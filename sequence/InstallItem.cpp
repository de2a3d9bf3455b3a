#include "sequence/InstallItem.h"

#include "osh/Text.h"

#include <algorithm>

std::wstring* InstallItem::FixedField(const std::wstring& name)
{
    return const_cast<std::wstring*>(static_cast<const InstallItem*>(this)->FixedField(name));
}

const std::wstring* InstallItem::FixedField(const std::wstring& name) const
{
    if (osh::EqualsIgnoreAsciiCase(name, L"Filename")) return &Filename;
    if (osh::EqualsIgnoreAsciiCase(name, L"Version")) return &Version;
    if (osh::EqualsIgnoreAsciiCase(name, L"Url")) return &Url;
    if (osh::EqualsIgnoreAsciiCase(name, L"Hash")) return &Hash;
    if (osh::EqualsIgnoreAsciiCase(name, L"Sha256")) return &Sha256;
    if (osh::EqualsIgnoreAsciiCase(name, L"Size")) return &Size;
    if (osh::EqualsIgnoreAsciiCase(name, L"LocalPath")) return &LocalPath;
    return nullptr;
}

void InstallItem::SetProperty(const std::wstring& name, const std::wstring& value)
{
    // Several elements of this name may follow each other, so each one counts.
    if (osh::EqualsIgnoreAsciiCase(name, L"mirror")) {
        Mirrors.push_back(value);
        return;
    }
    if (std::wstring* field = FixedField(name)) {
        *field = value;
        return;
    }
    Properties[name] = value;
}

bool InstallItem::GetProperty(const std::wstring& name, std::wstring& out) const
{
    const auto found = Properties.find(name);
    if (found != Properties.end()) {
        out = found->second;
        return true;
    }
    if (const std::wstring* field = FixedField(name)) {
        out = *field;
        return true;
    }
    out.clear();
    return false;
}

std::vector<std::wstring> InstallItem::Addresses() const
{
    std::vector<std::wstring> addresses;
    const auto add = [&addresses](const std::wstring& address) {
        if (!address.empty() && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
    };
    add(Url);
    for (const std::wstring& mirror : Mirrors) add(mirror);
    return addresses;
}
