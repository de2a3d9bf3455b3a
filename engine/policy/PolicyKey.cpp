#include "engine/policy/PolicyKey.h"

#include "osh/Exception.h"
#include "osh/Log.h"
#include "osh/Registry.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <windows.h>

#include <exception>
#include <memory>
#include <string>

namespace ziz {

namespace {

// Longer values are no policy of ours; reading them whole would only cost memory.
constexpr DWORD kLongestData = 16384;

PolicyValue ValueFromData(const wchar_t* name, DWORD type, const BYTE* data, DWORD size)
{
    PolicyValue value;
    value.name = name;
    value.type = type;
    if (type == REG_DWORD && size == sizeof(DWORD)) {
        value.number = *reinterpret_cast<const DWORD*>(data);
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        // The stored text need not end in a NUL; one that does ends there.
        std::wstring text(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t));
        const size_t end = text.find(L'\0');
        value.text = end == std::wstring::npos ? text : text.substr(0, end);
    } else if (type == REG_DWORD) {
        value.type = REG_BINARY;  // a DWORD of another size is no number
    }
    return value;
}

struct ReadOnce {
    bool read = false;
    Policies policies;
    std::string unreadable;  // the error line when the key is there but could not be read
};

// The system's text for a registry status, without the line break it ends in.
std::string SystemText(DWORD status)
{
    std::string text = win::exception(status, std::string()).what();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

ReadOnce& Cache()
{
    static ReadOnce cache;
    return cache;
}

// Policies exist to hold machines back: a run that cannot know them must not go on.
void Refuse(ReadOnce& cache, const std::string& reason)
{
    cache.unreadable =
        "The policy key HKLM\\" + osh::ToUtf8(kPolicyKeyPath) + " cannot be read (" + reason + "); nothing is done";
    osh::LogError(cache.unreadable);
    cache.policies = Policies();
}

}  // namespace

std::vector<PolicyValue> ReadPolicyValues()
{
    std::vector<PolicyValue> values;
    const osh::ScopedKey key = osh::OpenKey(HKEY_LOCAL_MACHINE, kPolicyKeyPath, KEY_QUERY_VALUE | KEY_WOW64_64KEY);
    if (!key) return values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD nameLength = ARRAYSIZE(name);
        DWORD type = 0;
        std::unique_ptr<BYTE[]> data(new BYTE[kLongestData + sizeof(wchar_t)]());
        DWORD size = kLongestData;
        const LSTATUS status = RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, data.get(), &size);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status == ERROR_MORE_DATA) {
            // Named, but far too long for any policy: kept as a value of no usable type.
            values.push_back(ValueFromData(name, REG_BINARY, data.get(), 0));
            continue;
        }
        if (status != ERROR_SUCCESS)
            throw win::exception(static_cast<DWORD>(status), "RegEnumValue(" + osh::ToUtf8(kPolicyKeyPath) + ")");
        values.push_back(ValueFromData(name, type, data.get(), size));
    }
    return values;
}

const Policies& RunPolicies()
{
    ReadOnce& cache = Cache();
    if (cache.read) return cache.policies;
    cache.read = true;
    try {
        const PolicyJudgement judgement = JudgePolicies(ReadPolicyValues());
        for (const std::string& warning : judgement.warnings) osh::LogWarning(warning);
        cache.policies = judgement.policies;
    } catch (const win::exception& error) {
        Refuse(cache, SystemText(error.code()));
    } catch (const std::exception& error) {
        Refuse(cache, error.what());
    }
    return cache.policies;
}

const std::string& PolicyKeyUnreadable()
{
    RunPolicies();
    return Cache().unreadable;
}

void StatePolicies()
{
    if (!PolicyKeyUnreadable().empty()) return;  // its error line says it all
    const auto inEffect = RunPolicies().InEffect();
    if (inEffect.empty()) osh::LogInformation("No policy in effect");
    for (const auto& policy : inEffect) osh::LogInformation(L"Policy in effect: " + policy.first + L"=" + policy.second);
}

void ForgetRunPolicies() { Cache() = ReadOnce(); }

}  // namespace ziz
