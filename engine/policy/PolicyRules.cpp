#include "engine/policy/PolicyRules.h"

#include "engine/VersionCompare.h"
#include "engine/mirrors/FailoverRule.h"
#include "osh/Text.h"
#include "osh/WebAddress.h"

#include <algorithm>

namespace ziz {

const wchar_t kPolicyKeyPath[] = L"SOFTWARE\\Policies\\Norlo\\Norlo 5\\Setup";

namespace {

constexpr std::uint32_t kDayMinutes = 1440;
// One tebibyte: larger than any setup-files folder, small enough for the byte count.
constexpr std::uint32_t kLargestCacheMB = 1048576;

std::string Quoted(const std::wstring& text) { return "\"" + osh::ToUtf8(text) + "\""; }

const char* TypeName(std::uint32_t type)
{
    switch (type) {
    case 1: return "REG_SZ";
    case 2: return "REG_EXPAND_SZ";
    case 3: return "REG_BINARY";
    case 4: return "REG_DWORD";
    case 7: return "REG_MULTI_SZ";
    case 11: return "REG_QWORD";
    default: return "another type";
    }
}

std::string Ignored(const std::wstring& name, const std::string& why)
{
    return "Policy " + Quoted(name) + " ignored: " + why;
}

const PolicyDefinition* FindDefinition(const std::wstring& name)
{
    for (const PolicyDefinition& definition : PolicyTable()) {
        if (osh::EqualsIgnoreAsciiCase(definition.name, name)) return &definition;
    }
    return nullptr;
}

// Whole numbers joined by dots, at most four of them, a last dot allowed.
bool IsVersionPrefix(const std::wstring& text)
{
    std::wstring parts = text;
    if (!parts.empty() && parts.back() == L'.') parts.pop_back();
    return IsVersionText(parts) && std::count(parts.begin(), parts.end(), L'.') < 4;
}

// "host:port" and the like: something, without blanks or separators WinINet would read as lists.
bool IsProxyServer(const std::wstring& text)
{
    if (text.empty()) return false;
    for (const wchar_t c : text) {
        if (c <= L' ' || c > L'~' || c == L';' || c == L'"') return false;
    }
    return true;
}

// The update address may name mirrors, ";"-separated and asked in order: every one must pass.
std::string AddressListRefusal(const std::wstring& text)
{
    for (const std::wstring& address : SplitAddressList(text)) {
        const std::string refusal = osh::WebAddressRefusal(address);
        if (!refusal.empty()) return refusal;
    }
    return std::string();
}

// Empty when the text fits the policy's own rule, else why it does not.
std::string TextRefusal(const PolicyDefinition& definition, const std::wstring& text)
{
    const std::wstring name = definition.name;
    if (text.size() > definition.maxLength)
        return "longer than " + std::to_string(definition.maxLength) + " characters";
    if (!definition.choices.empty()) {
        for (const std::wstring& choice : definition.choices) {
            if (choice == text) return std::string();
        }
        std::string words;
        for (const std::wstring& choice : definition.choices) words += (words.empty() ? "" : ", ") + osh::ToUtf8(choice);
        return Quoted(text) + " is not one of " + words;
    }
    if (name == L"UpdateURL") return AddressListRefusal(text);
    if (name == L"ProxyPacUrl") return osh::WebAddressRefusal(text);
    if (name == L"TargetVersionPrefix" && !IsVersionPrefix(text))
        return Quoted(text) + " is not a version prefix such as 5.0.1038.";
    if (name == L"ProxyServer" && !IsProxyServer(text)) return Quoted(text) + " is not a proxy such as host:port";
    return std::string();
}

// Empty when the value is good for its definition, else the reason.
std::string ValueRefusal(const PolicyDefinition& definition, const PolicyValue& value)
{
    if (value.type != static_cast<std::uint32_t>(definition.type)) {
        return std::string("a ") + TypeName(static_cast<std::uint32_t>(definition.type)) + " is expected, not " +
               TypeName(value.type);
    }
    if (definition.type == PolicyType::Number) {
        if (value.number < definition.minimum || value.number > definition.maximum)
            return std::to_string(value.number) + " is outside " + std::to_string(definition.minimum) + " to " +
                   std::to_string(definition.maximum);
        return std::string();
    }
    return TextRefusal(definition, value.text);
}

void Take(Policies& policies, const std::wstring& name, const PolicyValue& value)
{
    if (name == L"UpdateURL") policies.updateUrl = value.text;
    if (name == L"SelfUpdate") policies.selfUpdate = value.number != 0;
    if (name == L"TargetVersionPrefix") policies.targetVersionPrefix = value.text;
    if (name == L"ProxyMode") policies.proxyMode = value.text;
    if (name == L"ProxyServer") policies.proxyServer = value.text;
    if (name == L"ProxyPacUrl") policies.proxyPacUrl = value.text;
    if (name == L"BusyWaitMinutes") policies.busyWaitMinutes = value.number;
    if (name == L"JobWaitMinutes") policies.jobWaitMinutes = value.number;
    if (name == L"CacheLimitMB") policies.cacheLimitMB = value.number;
}

// A proxy address means something only with the mode that uses it, and that mode only with it.
void MatchProxyPolicies(Policies& policies, std::vector<std::string>& warnings)
{
    const std::wstring mode = policies.proxyMode.value_or(L"");
    if (policies.proxyServer && mode != L"fixed") {
        warnings.push_back(Ignored(L"ProxyServer", "ProxyMode is not \"fixed\""));
        policies.proxyServer.reset();
    }
    if (policies.proxyPacUrl && mode != L"pac") {
        warnings.push_back(Ignored(L"ProxyPacUrl", "ProxyMode is not \"pac\""));
        policies.proxyPacUrl.reset();
    }
    if ((mode == L"fixed" && !policies.proxyServer) || (mode == L"pac" && !policies.proxyPacUrl)) {
        warnings.push_back(Ignored(L"ProxyMode", Quoted(mode) + " needs " + (mode == L"fixed" ? "ProxyServer" : "ProxyPacUrl")));
        policies.proxyMode.reset();
    }
}

std::wstring WithoutLastDot(std::wstring prefix)
{
    if (!prefix.empty() && prefix.back() == L'.') prefix.pop_back();
    return prefix;
}

}  // namespace

const std::vector<PolicyDefinition>& PolicyTable()
{
    static const std::vector<PolicyDefinition> table = {
        {L"UpdateURL", PolicyType::Text, 0, 0, {}, 2048},
        {L"SelfUpdate", PolicyType::Number, 0, 1, {}, 0},
        {L"TargetVersionPrefix", PolicyType::Text, 0, 0, {}, 64},
        {L"ProxyMode", PolicyType::Text, 0, 0, {L"system", L"direct", L"fixed", L"pac"}, 16},
        {L"ProxyServer", PolicyType::Text, 0, 0, {}, 255},
        {L"ProxyPacUrl", PolicyType::Text, 0, 0, {}, 2048},
        {L"BusyWaitMinutes", PolicyType::Number, 0, kDayMinutes, {}, 0},
        {L"JobWaitMinutes", PolicyType::Number, 0, kDayMinutes, {}, 0},
        {L"CacheLimitMB", PolicyType::Number, 0, kLargestCacheMB, {}, 0},
    };
    return table;
}

std::vector<std::pair<std::wstring, std::wstring>> Policies::InEffect() const
{
    std::vector<std::pair<std::wstring, std::wstring>> effect;
    const auto text = [&](const wchar_t* name, const std::optional<std::wstring>& value) {
        if (value) effect.emplace_back(name, *value);
    };
    const auto number = [&](const wchar_t* name, const std::optional<std::uint32_t>& value) {
        if (value) effect.emplace_back(name, std::to_wstring(*value));
    };
    text(L"UpdateURL", updateUrl);
    if (selfUpdate) effect.emplace_back(L"SelfUpdate", *selfUpdate ? L"1" : L"0");
    text(L"TargetVersionPrefix", targetVersionPrefix);
    text(L"ProxyMode", proxyMode);
    text(L"ProxyServer", proxyServer);
    text(L"ProxyPacUrl", proxyPacUrl);
    number(L"BusyWaitMinutes", busyWaitMinutes);
    number(L"JobWaitMinutes", jobWaitMinutes);
    number(L"CacheLimitMB", cacheLimitMB);
    return effect;
}

PolicyJudgement JudgePolicies(const std::vector<PolicyValue>& values)
{
    PolicyJudgement judgement;
    for (const PolicyValue& value : values) {
        const PolicyDefinition* definition = FindDefinition(value.name);
        if (definition == nullptr) {
            judgement.warnings.push_back(Ignored(value.name, "no such policy"));
            continue;
        }
        // Group policy writes a text box left empty as an empty text: that sets nothing.
        if (definition->type == PolicyType::Text && value.type == 1 && value.text.empty()) continue;
        const std::string refusal = ValueRefusal(*definition, value);
        if (!refusal.empty()) {
            judgement.warnings.push_back(Ignored(definition->name, refusal));
            continue;
        }
        Take(judgement.policies, definition->name, value);
    }
    MatchProxyPolicies(judgement.policies, judgement.warnings);
    return judgement;
}

std::wstring ChooseUpdateUrl(const Policies& policies, const std::wstring& keyStoreUrl, const std::wstring& builtIn)
{
    if (policies.updateUrl) return *policies.updateUrl;
    // An empty override names no server; the built-in address applies then.
    return keyStoreUrl.empty() ? builtIn : keyStoreUrl;
}

std::uint64_t ChooseWaitMs(const std::optional<std::uint32_t>& policyMinutes, std::uint64_t vendorMs)
{
    return policyMinutes ? static_cast<std::uint64_t>(*policyMinutes) * 60000 : vendorMs;
}

TargetPlace PlaceVersion(const std::wstring& prefix, const std::wstring& version)
{
    const std::wstring whole = WithoutLastDot(prefix);
    if (version == whole || version.compare(0, whole.size() + 1, whole + L".") == 0) return TargetPlace::Within;
    return IsNewerVersion(version, whole) ? TargetPlace::Ahead : TargetPlace::Behind;
}

std::string HandOverRefusal(const Policies& policies, const std::wstring& version)
{
    if (policies.selfUpdate && !*policies.selfUpdate) return "policy SelfUpdate=0";
    if (policies.targetVersionPrefix && PlaceVersion(*policies.targetVersionPrefix, version) != TargetPlace::Within)
        return "outside policy TargetVersionPrefix=" + osh::ToUtf8(*policies.targetVersionPrefix);
    return std::string();
}

TargetGate JudgeTarget(const Policies& policies, const std::wstring& installedVersion, const std::wstring& runningVersion)
{
    if (!policies.targetVersionPrefix) return TargetGate::Go;
    const std::wstring& prefix = *policies.targetVersionPrefix;
    if (!installedVersion.empty() && PlaceVersion(prefix, installedVersion) == TargetPlace::Ahead)
        return TargetGate::LeaveAlone;
    return PlaceVersion(prefix, runningVersion) == TargetPlace::Within ? TargetGate::Go : TargetGate::Refuse;
}

osh::ProxySetting ChooseProxy(const Policies& policies)
{
    osh::ProxySetting choice;
    const std::wstring mode = policies.proxyMode.value_or(L"system");
    if (mode == L"direct") choice.kind = osh::ProxyKind::Direct;
    if (mode == L"fixed" && policies.proxyServer) {
        choice.kind = osh::ProxyKind::Fixed;
        choice.server = *policies.proxyServer;
    }
    if (mode == L"pac" && policies.proxyPacUrl) {
        choice.kind = osh::ProxyKind::Pac;
        choice.pacUrl = *policies.proxyPacUrl;
    }
    return choice;
}

std::vector<std::wstring> ChooseCacheRemovals(std::vector<CachedFile> files, std::uint64_t limitBytes)
{
    std::uint64_t total = 0;
    for (const CachedFile& file : files) total += file.size;
    std::stable_sort(files.begin(), files.end(),
                     [](const CachedFile& a, const CachedFile& b) { return a.lastWrite < b.lastWrite; });
    std::vector<std::wstring> removals;
    for (const CachedFile& file : files) {
        if (total <= limitBytes) break;
        if (file.named) continue;
        removals.push_back(file.name);
        total -= file.size;
    }
    return removals;
}

}  // namespace ziz
