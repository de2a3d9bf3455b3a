// The administrator's policies as rules: what each value of the key means (a table of the
// key's values against the policies in effect and the warnings naming the ignored ones), and
// the decisions the run takes from them: precedence, version places, what each turns off,
// the proxy, the cache removals.
#include "engine/policy/PolicyRules.h"
#include "osh/Text.h"
#include "osh/WebAddress.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ziz::PolicyValue;

std::string Narrow(const std::wstring& text) { return osh::ToUtf8(text); }

constexpr std::uint32_t kText = 1;
constexpr std::uint32_t kNumber = 4;
constexpr std::uint32_t kExpandText = 2;
constexpr std::uint32_t kQword = 11;

PolicyValue Text(const std::wstring& name, const std::wstring& text) { return {name, kText, 0, text}; }
PolicyValue Number(const std::wstring& name, std::uint32_t number) { return {name, kNumber, number, L""}; }

std::string Effect(const ziz::Policies& policies)
{
    std::string text;
    for (const auto& policy : policies.InEffect()) text += (text.empty() ? "" : " ") + Narrow(policy.first + L"=" + policy.second);
    return text;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines) text += (text.empty() ? "" : " | ") + line;
    return text;
}

struct JudgeCase {
    const char* what;
    std::vector<PolicyValue> values;
    const char* effect;
    const char* warnings;
};

// The build under test accepts plain http (tests); the https rule of a signed build is its own case.
TEST(PolicyRules, ValuesOfTheKeyBecomeThePoliciesInEffectOrWarningsNamingThem)
{
    const std::wstring mirror = L"https://mirror.example.com/norlo/update.xml";
    const std::vector<JudgeCase> cases = {
        {"nothing set", {}, "", ""},
        {"every policy, in the table's order",
         {Number(L"CacheLimitMB", 2048), Number(L"JobWaitMinutes", 30), Number(L"BusyWaitMinutes", 0),
          Text(L"ProxyServer", L"proxy.example.com:3128"), Text(L"ProxyMode", L"fixed"),
          Text(L"TargetVersionPrefix", L"5.0.1038."), Number(L"SelfUpdate", 0), Text(L"UpdateURL", mirror)},
         "UpdateURL=https://mirror.example.com/norlo/update.xml SelfUpdate=0 TargetVersionPrefix=5.0.1038. "
         "ProxyMode=fixed ProxyServer=proxy.example.com:3128 BusyWaitMinutes=0 JobWaitMinutes=30 CacheLimitMB=2048",
         ""},
        {"value names are the registry's: letter case aside", {Number(L"selfupdate", 1)}, "SelfUpdate=1", ""},
        {"a number where a text belongs", {Number(L"UpdateURL", 1)}, "",
         "Policy \"UpdateURL\" ignored: a REG_SZ is expected, not REG_DWORD"},
        {"a text where a number belongs", {Text(L"BusyWaitMinutes", L"5")}, "",
         "Policy \"BusyWaitMinutes\" ignored: a REG_DWORD is expected, not REG_SZ"},
        {"an expandable text is not a text", {{L"UpdateURL", kExpandText, 0, mirror}}, "",
         "Policy \"UpdateURL\" ignored: a REG_SZ is expected, not REG_EXPAND_SZ"},
        {"a 64-bit number is not a number", {{L"CacheLimitMB", kQword, 0, L""}}, "",
         "Policy \"CacheLimitMB\" ignored: a REG_DWORD is expected, not REG_QWORD"},
        {"SelfUpdate 2", {Number(L"SelfUpdate", 2)}, "", "Policy \"SelfUpdate\" ignored: 2 is outside 0 to 1"},
        {"waits up to a day", {Number(L"BusyWaitMinutes", 1440), Number(L"JobWaitMinutes", 1441)},
         "BusyWaitMinutes=1440", "Policy \"JobWaitMinutes\" ignored: 1441 is outside 0 to 1440"},
        {"a negative number written as a DWORD", {Number(L"JobWaitMinutes", 0xFFFFFFFF)}, "",
         "Policy \"JobWaitMinutes\" ignored: 4294967295 is outside 0 to 1440"},
        {"cache limit up to a tebibyte", {Number(L"CacheLimitMB", 1048577)}, "",
         "Policy \"CacheLimitMB\" ignored: 1048577 is outside 0 to 1048576"},
        {"an update address the downloader refuses", {Text(L"UpdateURL", L"file://server/share/update.xml")}, "",
         "Policy \"UpdateURL\" ignored: "},
        {"mirrors of the update address", {Text(L"UpdateURL", mirror + L";https://branch.example.com/update.xml")},
         "UpdateURL=https://mirror.example.com/norlo/update.xml;https://branch.example.com/update.xml", ""},
        {"one refused mirror refuses the list", {Text(L"UpdateURL", mirror + L";file://server/share/update.xml")}, "",
         "Policy \"UpdateURL\" ignored: "},
        {"an empty text sets nothing, silently", {Text(L"UpdateURL", L""), Text(L"TargetVersionPrefix", L"")}, "", ""},
        {"prefixes are whole numbers", {Text(L"TargetVersionPrefix", L"5.0.10x")}, "",
         "Policy \"TargetVersionPrefix\" ignored: \"5.0.10x\" is not a version prefix such as 5.0.1038."},
        {"a prefix of five parts", {Text(L"TargetVersionPrefix", L"5.0.1038.10828.1")}, "",
         "Policy \"TargetVersionPrefix\" ignored: \"5.0.1038.10828.1\" is not a version prefix such as 5.0.1038."},
        {"a prefix without its last dot", {Text(L"TargetVersionPrefix", L"5.0")}, "TargetVersionPrefix=5.0", ""},
        {"ProxyMode is one of four words", {Text(L"ProxyMode", L"auto")}, "",
         "Policy \"ProxyMode\" ignored: \"auto\" is not one of system, direct, fixed, pac"},
        {"fixed needs its server", {Text(L"ProxyMode", L"fixed")}, "",
         "Policy \"ProxyMode\" ignored: \"fixed\" needs ProxyServer"},
        {"pac needs its script", {Text(L"ProxyMode", L"pac"), Text(L"ProxyServer", L"p:1")}, "",
         "Policy \"ProxyServer\" ignored: ProxyMode is not \"fixed\" | Policy \"ProxyMode\" ignored: \"pac\" needs ProxyPacUrl"},
        {"a script address without pac", {Text(L"ProxyMode", L"direct"), Text(L"ProxyPacUrl", L"http://pac/p.pac")},
         "ProxyMode=direct", "Policy \"ProxyPacUrl\" ignored: ProxyMode is not \"pac\""},
        {"a proxy list is no proxy", {Text(L"ProxyMode", L"fixed"), Text(L"ProxyServer", L"a:1;b:2")}, "",
         "Policy \"ProxyServer\" ignored: \"a:1;b:2\" is not a proxy such as host:port | Policy \"ProxyMode\" ignored: "
         "\"fixed\" needs ProxyServer"},
        {"a value no policy has", {Text(L"UpdateUrlTypo", mirror)}, "", "Policy \"UpdateUrlTypo\" ignored: no such policy"},
        {"an overlong server", {Text(L"ProxyMode", L"fixed"), Text(L"ProxyServer", std::wstring(256, L'p'))}, "",
         "Policy \"ProxyServer\" ignored: longer than 255 characters | Policy \"ProxyMode\" ignored: \"fixed\" needs ProxyServer"},
    };
    for (const JudgeCase& c : cases) {
        const ziz::PolicyJudgement judgement = ziz::JudgePolicies(c.values);
        EXPECT_EQ(c.effect, Effect(judgement.policies)) << c.what;
        const std::string warnings = Joined(judgement.warnings);
        // The downloader's refusal text is its own; only its start is the policy's.
        EXPECT_EQ(0u, warnings.find(c.warnings)) << c.what << ": " << warnings;
        EXPECT_EQ(std::string(c.warnings).empty(), warnings.empty()) << c.what << ": " << warnings;
    }
}

TEST(PolicyRules, ASignedBuildTakesOnlyHttpsAddresses)
{
    const bool previous = osh::SetPlainHttpAccepted(false);
    const ziz::PolicyJudgement judgement =
        ziz::JudgePolicies({Text(L"UpdateURL", L"http://mirror/update.xml"), Text(L"ProxyMode", L"pac"),
                            Text(L"ProxyPacUrl", L"https://wpad.example.com/proxy.pac")});
    osh::SetPlainHttpAccepted(previous);
    EXPECT_EQ("ProxyMode=pac ProxyPacUrl=https://wpad.example.com/proxy.pac", Effect(judgement.policies));
    ASSERT_EQ(1u, judgement.warnings.size());
    EXPECT_EQ(0u, judgement.warnings[0].find("Policy \"UpdateURL\" ignored: ")) << judgement.warnings[0];
    EXPECT_NE(std::string::npos, judgement.warnings[0].find("https")) << judgement.warnings[0];
}

TEST(PolicyRules, EachPolicyIsStrongerThanWhatItReplaces)
{
    ziz::Policies none;
    ziz::Policies set;
    set.updateUrl = L"https://policy/update.xml";
    set.busyWaitMinutes = 0;
    EXPECT_EQ(L"https://policy/update.xml", ziz::ChooseUpdateUrl(set, L"https://store/u.xml", L"https://built-in/u.xml"));
    EXPECT_EQ(L"https://store/u.xml", ziz::ChooseUpdateUrl(none, L"https://store/u.xml", L"https://built-in/u.xml"));
    EXPECT_EQ(L"https://built-in/u.xml", ziz::ChooseUpdateUrl(none, L"", L"https://built-in/u.xml"));
    EXPECT_EQ(0u, ziz::ChooseWaitMs(set.busyWaitMinutes, 600000));  // 0 minutes: no wait at all
    EXPECT_EQ(600000u, ziz::ChooseWaitMs(none.busyWaitMinutes, 600000));
    EXPECT_EQ(1440u * 60000, ziz::ChooseWaitMs(1440u, 1000));
}

TEST(PolicyRules, VersionsStandWithinAheadOrBehindThePrefix)
{
    struct Case {
        const wchar_t* prefix;
        const wchar_t* version;
        ziz::TargetPlace place;
    };
    const std::vector<Case> cases = {
        {L"5.0.1038.", L"5.0.1038.10828", ziz::TargetPlace::Within},
        {L"5.0.1038", L"5.0.1038.10828", ziz::TargetPlace::Within},
        {L"5.0.1038.", L"5.0.1038", ziz::TargetPlace::Within},
        {L"5.0.1038", L"5.0.10380.1", ziz::TargetPlace::Ahead},  // whole parts, not text
        {L"5.0.1038.", L"5.0.1039.1", ziz::TargetPlace::Ahead},
        {L"5.0.1038.", L"5.1", ziz::TargetPlace::Ahead},
        {L"5.0.1038.", L"5.0.1035.10828", ziz::TargetPlace::Behind},
        {L"5.0.1038.", L"4.9.9999.9999", ziz::TargetPlace::Behind},
        {L"5.0.1038.", L"", ziz::TargetPlace::Behind},
        {L"5.0.1038.", L"garbage", ziz::TargetPlace::Behind},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.place, ziz::PlaceVersion(c.prefix, c.version)) << Narrow(c.prefix) << " " << Narrow(c.version);
}

TEST(PolicyRules, WhatSelfUpdateAndTheReleasePinTurnOff)
{
    ziz::Policies none;
    ziz::Policies frozen;
    frozen.selfUpdate = false;
    ziz::Policies allowed;
    allowed.selfUpdate = true;
    ziz::Policies pinned;
    pinned.targetVersionPrefix = L"5.0.1038.";
    EXPECT_EQ("", ziz::HandOverRefusal(none, L"5.0.1040.1"));
    EXPECT_EQ("", ziz::HandOverRefusal(allowed, L"5.0.1040.1"));
    EXPECT_EQ("policy SelfUpdate=0", ziz::HandOverRefusal(frozen, L"5.0.1038.10828"));
    EXPECT_EQ("", ziz::HandOverRefusal(pinned, L"5.0.1038.10900"));
    EXPECT_EQ("outside policy TargetVersionPrefix=5.0.1038.", ziz::HandOverRefusal(pinned, L"5.0.1040.1"));
    EXPECT_EQ("outside policy TargetVersionPrefix=5.0.1038.", ziz::HandOverRefusal(pinned, L"5.0.1035.1"));

    // installed, running -> the gate
    EXPECT_EQ(ziz::TargetGate::Go, ziz::JudgeTarget(none, L"9.9", L"1.0"));
    EXPECT_EQ(ziz::TargetGate::Go, ziz::JudgeTarget(pinned, L"", L"5.0.1038.10828"));
    EXPECT_EQ(ziz::TargetGate::Go, ziz::JudgeTarget(pinned, L"5.0.1035.10828", L"5.0.1038.10828"));
    EXPECT_EQ(ziz::TargetGate::LeaveAlone, ziz::JudgeTarget(pinned, L"5.0.1040.1", L"5.0.1038.10828"));
    EXPECT_EQ(ziz::TargetGate::LeaveAlone, ziz::JudgeTarget(pinned, L"5.0.1040.1", L"5.0.1040.1"));
    EXPECT_EQ(ziz::TargetGate::Refuse, ziz::JudgeTarget(pinned, L"", L"5.0.1035.10828"));
    EXPECT_EQ(ziz::TargetGate::Refuse, ziz::JudgeTarget(pinned, L"5.0.1035.1", L"5.0.1040.1"));
    EXPECT_EQ(ziz::TargetGate::Refuse, ziz::JudgeTarget(pinned, L"", L""));
}

TEST(PolicyRules, ProxyModeChoosesHowSessionsReachTheNetwork)
{
    const auto choose = [](std::vector<PolicyValue> values) {
        return ziz::ChooseProxy(ziz::JudgePolicies(values).policies);
    };
    EXPECT_EQ(osh::ProxyKind::System, choose({}).kind);
    EXPECT_EQ(osh::ProxyKind::System, choose({Text(L"ProxyMode", L"system")}).kind);
    EXPECT_EQ(osh::ProxyKind::Direct, choose({Text(L"ProxyMode", L"direct")}).kind);
    const osh::ProxySetting fixed = choose({Text(L"ProxyMode", L"fixed"), Text(L"ProxyServer", L"p.example.com:8080")});
    EXPECT_EQ(osh::ProxyKind::Fixed, fixed.kind);
    EXPECT_EQ(L"p.example.com:8080", fixed.server);
    const osh::ProxySetting pac = choose({Text(L"ProxyMode", L"pac"), Text(L"ProxyPacUrl", L"http://wpad/p.pac")});
    EXPECT_EQ(osh::ProxyKind::Pac, pac.kind);
    EXPECT_EQ(L"http://wpad/p.pac", pac.pacUrl);
    // A mode missing its address falls back to the system's settings, not to no proxy.
    EXPECT_EQ(osh::ProxyKind::System, choose({Text(L"ProxyMode", L"fixed")}).kind);
}

TEST(PolicyRules, CacheLimitRemovesOldestEarlierFilesUntilTheFolderFits)
{
    const std::uint64_t mb = 1024 * 1024;
    const std::vector<ziz::CachedFile> files = {
        {L"services-5.0.1038.msi", 40 * mb, 500, true},
        {L"services-5.0.1030.msi", 40 * mb, 100, false},
        {L"Setup.exe", 2 * mb, 50, true},  // older than all, named: stays
        {L"services-5.0.1035.msi", 40 * mb, 300, false},
        {L"viewer-5.0.1030.msi", 10 * mb, 200, false},
    };
    EXPECT_EQ((std::vector<std::wstring>{}), ziz::ChooseCacheRemovals(files, 132 * mb));
    EXPECT_EQ((std::vector<std::wstring>{L"services-5.0.1030.msi"}), ziz::ChooseCacheRemovals(files, 131 * mb));
    EXPECT_EQ((std::vector<std::wstring>{L"services-5.0.1030.msi", L"viewer-5.0.1030.msi"}),
              ziz::ChooseCacheRemovals(files, 90 * mb));
    // Never a named file, even when the folder cannot fit then.
    EXPECT_EQ((std::vector<std::wstring>{L"services-5.0.1030.msi", L"viewer-5.0.1030.msi", L"services-5.0.1035.msi"}),
              ziz::ChooseCacheRemovals(files, 0));
}

}  // namespace
