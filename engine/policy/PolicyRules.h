#pragma once
// What an administrator's policy values mean, kept apart from the registry so that a table
// covers them: which values are policies, their type and range, what is in effect when a
// value is wrong, and what each policy decides (update address, hand-over, release pin,
// waits, proxy, cache size). The registry reading is PolicyKey's. Free of Windows headers.
#include "osh/ProxySetting.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ziz {

// Where the policies live, below HKEY_LOCAL_MACHINE (only administrators write there).
extern const wchar_t kPolicyKeyPath[];

// The registry types the policies use (the Win32 numbers, so the table needs no headers).
enum class PolicyType : std::uint32_t { Text = 1 /* REG_SZ */, Number = 4 /* REG_DWORD */ };

// One policy the program reads: its value name, type and range. A Text policy with choices
// takes only those words; a Number policy takes minimum to maximum.
struct PolicyDefinition {
    const wchar_t* name;
    PolicyType type;
    std::uint32_t minimum;
    std::uint32_t maximum;
    std::vector<std::wstring> choices;
    std::uint32_t maxLength;  // Text only: the longest text taken
};

// Every policy the program reads; the templates and their test follow this table.
const std::vector<PolicyDefinition>& PolicyTable();

// One value as the key holds it: name, registry type and the data read as either type.
struct PolicyValue {
    std::wstring name;
    std::uint32_t type = 0;
    std::uint32_t number = 0;
    std::wstring text;
};

struct Policies {
    std::optional<std::wstring> updateUrl;
    std::optional<bool> selfUpdate;
    std::optional<std::wstring> targetVersionPrefix;
    std::optional<std::wstring> proxyMode;
    std::optional<std::wstring> proxyServer;
    std::optional<std::wstring> proxyPacUrl;
    std::optional<std::uint32_t> busyWaitMinutes;
    std::optional<std::uint32_t> jobWaitMinutes;
    std::optional<std::uint32_t> cacheLimitMB;

    // "Name=value" of each policy in effect, in the table's order.
    std::vector<std::pair<std::wstring, std::wstring>> InEffect() const;
    bool Any() const { return !InEffect().empty(); }
};

struct PolicyJudgement {
    Policies policies;
    std::vector<std::string> warnings;  // one line per value ignored, naming it
};

// The policies in effect from the values of the key. An empty text sets nothing (an empty
// text box of the templates is written so). A value of the wrong type, out of
// range, not one of its choices, or an address the downloader would refuse is ignored with
// a warning naming it; so is a value no policy has, and a proxy server or PAC address
// without the ProxyMode that uses it (and that mode without it).
PolicyJudgement JudgePolicies(const std::vector<PolicyValue>& values);

// The update document's address: the policy, else the key store's override, else the
// built-in address.
std::wstring ChooseUpdateUrl(const Policies& policies, const std::wstring& keyStoreUrl, const std::wstring& builtIn);

// A wait bound in milliseconds: the policy's minutes when set, else the vendor setting's.
std::uint64_t ChooseWaitMs(const std::optional<std::uint32_t>& policyMinutes, std::uint64_t vendorMs);

// Where a version stands against TargetVersionPrefix: within it (the prefix is a whole
// number of parts, with or without its last dot), ahead of it, or behind it.
enum class TargetPlace { Within, Ahead, Behind };
TargetPlace PlaceVersion(const std::wstring& prefix, const std::wstring& version);

// Why a bootstrapper of version (another than the running one) may not take over the run,
// or "" when it may: SelfUpdate=0 allows none, TargetVersionPrefix none outside it.
std::string HandOverRefusal(const Policies& policies, const std::wstring& version);

// What a run that would install this bootstrapper's release does under TargetVersionPrefix:
// go on; leave a machine whose installed release is ahead of it alone; or refuse, since this
// release is outside it.
enum class TargetGate { Go, LeaveAlone, Refuse };
TargetGate JudgeTarget(const Policies& policies, const std::wstring& installedVersion,
                       const std::wstring& runningVersion);

// How transfers reach the network: ProxyMode with its server or script address, else the
// system's settings.
osh::ProxySetting ChooseProxy(const Policies& policies);

// A file in the setup-files folder, as the cache limit weighs it.
struct CachedFile {
    std::wstring name;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;  // the larger, the newer
    bool named = false;           // the current sequence names it: never removed
};

// The files to remove, oldest first, until the folder fits limitBytes; none that the
// current sequence names. It may still not fit afterwards.
std::vector<std::wstring> ChooseCacheRemovals(std::vector<CachedFile> files, std::uint64_t limitBytes);

}  // namespace ziz
