// The administrator's policies: what each value means (a table of the key's values against
// the policies in effect and the warnings), the decisions the run takes from them, the key
// as the registry holds it, and the administrative templates against the code's own table.
// Poco first: its headers bring winsock2.h, which must come before windows.h.
#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>

#include "engine/policy/CacheLimit.h"
#include "engine/policy/PolicyKey.h"
#include "engine/policy/PolicyRules.h"
#include "osh/WebAddress.h"
#include "support/PolicyKeyValues.h"
#include "support/TestEnvironment.h"
#include "support/TestWorker.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ziz::PolicyValue;
using testenv::Narrow;

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

// ---------------------------------------------------------------------------------------
// The key as the registry holds it.

TEST(PolicyKey, ValuesAreReadInTheirTypesAndJudged)
{
    const testsupport::PolicyKeyScope key;
    EXPECT_TRUE(ziz::ReadPolicyValues().empty());
    EXPECT_EQ("", Effect(ziz::RunPolicies()));
    ASSERT_TRUE(key.SetText(L"UpdateURL", L"https://mirror.example.com/update.xml"));
    ASSERT_TRUE(key.SetNumber(L"SelfUpdate", 0));
    ASSERT_TRUE(key.SetText(L"JobWaitMinutes", L"30"));
    const unsigned char shortNumber[2] = {1, 0};
    ASSERT_TRUE(key.SetRaw(L"BusyWaitMinutes", REG_DWORD, shortNumber, sizeof(shortNumber)));
    // A text stored without its terminating NUL is still the whole text.
    const std::wstring prefix = L"5.0.1038.";
    ASSERT_TRUE(key.SetRaw(L"TargetVersionPrefix", REG_SZ, prefix.data(), static_cast<DWORD>(prefix.size() * 2)));

    const ziz::PolicyJudgement judgement = ziz::JudgePolicies(ziz::ReadPolicyValues());
    EXPECT_EQ("UpdateURL=https://mirror.example.com/update.xml SelfUpdate=0 TargetVersionPrefix=5.0.1038.",
              Effect(judgement.policies));
    std::set<std::string> warnings(judgement.warnings.begin(), judgement.warnings.end());
    EXPECT_EQ((std::set<std::string>{"Policy \"BusyWaitMinutes\" ignored: a REG_DWORD is expected, not REG_BINARY",
                                     "Policy \"JobWaitMinutes\" ignored: a REG_DWORD is expected, not REG_SZ"}),
              warnings);
    EXPECT_EQ(Effect(judgement.policies), Effect(ziz::RunPolicies()));
}

// ---------------------------------------------------------------------------------------
// The cache limit on a real setup-files folder.

void WriteFileOf(const std::wstring& path, size_t megabytes, ULONGLONG age)
{
    std::ofstream(Narrow(path), std::ios::binary) << std::string(megabytes * 1024 * 1024, 'x');
    HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    // Ages in days before a fixed day: the larger, the older.
    ULARGE_INTEGER when;
    when.QuadPart = 133000000000000000ULL - age * 864000000000ULL;
    FILETIME time{when.LowPart, when.HighPart};
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &time));
    CloseHandle(file);
}

bool Present(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(PolicyCache, EarlierReleasesGoOldestFirstUntilTheFolderFitsAndNothingNamedGoes)
{
    const testsupport::PolicyKeyScope key;
    const std::wstring folder = testenv::MakeScratchDirectory(L"cache-limit");
    testsupport::TestWorker worker;
    worker.paths[ziz::evSetup] = folder;
    worker.fileNames[ziz::evSetup] = L"Setup.exe";
    std::wstring current;
    for (const std::wstring& name : ziz::NamesInUse(worker))
        if (name != L"Setup.exe") current = name;
    ASSERT_FALSE(current.empty()) << "the embedded sequence names no component";

    WriteFileOf(folder + L"\\" + current, 2, 30);  // the oldest, but this release's
    WriteFileOf(folder + L"\\Setup.exe", 1, 20);
    WriteFileOf(folder + L"\\norlo5-viewer-x64-5.0.1030.1.msi", 1, 10);
    WriteFileOf(folder + L"\\norlo5-services-x64-5.0.1030.1.msi", 3, 5);
    WriteFileOf(folder + L"\\norlo5-services-x64-5.0.1035.1.msi", 1, 1);
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\kept").c_str(), nullptr));
    WriteFileOf(folder + L"\\kept\\inside.msi", 1, 40);

    ziz::ApplyCacheLimit(worker);  // no policy: nothing happens
    EXPECT_TRUE(Present(folder + L"\\norlo5-viewer-x64-5.0.1030.1.msi"));

    ASSERT_TRUE(key.SetNumber(L"CacheLimitMB", 5));  // 8 MB in files: 3 must go
    ziz::ApplyCacheLimit(worker);
    EXPECT_FALSE(Present(folder + L"\\norlo5-viewer-x64-5.0.1030.1.msi"));
    EXPECT_FALSE(Present(folder + L"\\norlo5-services-x64-5.0.1030.1.msi"));
    EXPECT_TRUE(Present(folder + L"\\norlo5-services-x64-5.0.1035.1.msi"));
    EXPECT_TRUE(Present(folder + L"\\" + current));
    EXPECT_TRUE(Present(folder + L"\\Setup.exe"));
    EXPECT_TRUE(Present(folder + L"\\kept\\inside.msi"));

    ASSERT_TRUE(key.SetNumber(L"CacheLimitMB", 0));  // only what this release needs stays
    ziz::ApplyCacheLimit(worker);
    EXPECT_FALSE(Present(folder + L"\\norlo5-services-x64-5.0.1035.1.msi"));
    EXPECT_TRUE(Present(folder + L"\\" + current));
    EXPECT_TRUE(Present(folder + L"\\Setup.exe"));
    testenv::RemoveTree(folder);
}

// ---------------------------------------------------------------------------------------
// The administrative templates in the release tree, against the table the code reads.

using Poco::XML::Element;

struct TemplateValue {
    std::uint32_t type = 0;
    std::uint32_t minimum = 0;
    std::uint32_t maximum = 0;
    std::uint32_t maxLength = 0;
    std::vector<std::string> choices;
    std::string element;  // the element's id, which the presentation refers to
    std::string policy;
};

Poco::AutoPtr<Poco::XML::Document> ParseTemplate(const std::wstring& relative)
{
    const std::wstring path = testenv::BuildDirectory() + L"\\release\\policy\\" + relative;
    std::ifstream in(Narrow(path), std::ios::binary);
    EXPECT_TRUE(in.good()) << Narrow(path) << " is not in the release tree";
    std::stringstream text;
    text << in.rdbuf();
    Poco::XML::DOMParser parser;
    return parser.parseString(text.str());
}

std::vector<Element*> ChildElements(const Element* parent, const std::string& name)
{
    std::vector<Element*> found;
    for (Poco::XML::Node* node = parent->firstChild(); node != nullptr; node = node->nextSibling()) {
        auto* element = dynamic_cast<Element*>(node);
        if (element != nullptr && (name.empty() || element->localName() == name)) found.push_back(element);
    }
    return found;
}

std::vector<Element*> AllElements(Poco::XML::Document* document, const std::string& name)
{
    std::vector<Element*> found;
    Poco::AutoPtr<Poco::XML::NodeList> list = document->getElementsByTagNameNS("*", name);
    for (unsigned long i = 0; i < list->length(); ++i) found.push_back(static_cast<Element*>(list->item(i)));
    return found;
}

std::uint32_t Decimal(const Element* element, const std::string& attribute)
{
    return static_cast<std::uint32_t>(std::stoul(element->getAttribute(attribute)));
}

// Every value a policy of the ADMX writes, by value name.
std::map<std::string, TemplateValue> TemplateValues(Poco::XML::Document* admx)
{
    std::map<std::string, TemplateValue> values;
    for (Element* policy : AllElements(admx, "policy")) {
        const std::string name = policy->getAttribute("name");
        EXPECT_EQ(Narrow(ziz::kPolicyKeyPath), "SOFTWARE" + policy->getAttribute("key").substr(8)) << name;
        EXPECT_EQ("Machine", policy->getAttribute("class")) << name;
        if (policy->hasAttribute("valueName")) {
            TemplateValue value{kNumber, 0, 0, 0, {}, "", name};
            const Element* on = policy->getChildElement("enabledValue");
            const Element* off = policy->getChildElement("disabledValue");
            EXPECT_TRUE(on != nullptr && off != nullptr) << name;
            if (on != nullptr && off != nullptr) {
                value.maximum = Decimal(on->getChildElement("decimal"), "value");
                value.minimum = Decimal(off->getChildElement("decimal"), "value");
            }
            values[policy->getAttribute("valueName")] = value;
        }
        const Element* elements = policy->getChildElement("elements");
        if (elements == nullptr) continue;
        for (Element* element : ChildElements(elements, "")) {
            TemplateValue value;
            value.element = element->getAttribute("id");
            value.policy = name;
            const std::string kind = element->localName();
            if (kind == "text") {
                value.type = kText;
                value.maxLength = Decimal(element, "maxLength");
            } else if (kind == "decimal") {
                value.type = kNumber;
                value.minimum = Decimal(element, "minValue");
                value.maximum = Decimal(element, "maxValue");
            } else if (kind == "enum") {
                value.type = kText;
                for (Element* item : ChildElements(element, "item"))
                    value.choices.push_back(item->getChildElement("value")->getChildElement("string")->innerText());
            } else {
                ADD_FAILURE() << name << ": an element the test does not know, " << kind;
            }
            EXPECT_EQ(0u, values.count(element->getAttribute("valueName"))) << "written twice";
            values[element->getAttribute("valueName")] = value;
        }
    }
    return values;
}

TEST(PolicyTemplates, EveryPolicyTheCodeReadsIsInTheAdmxWithItsNameTypeAndRangeAndNothingElse)
{
    Poco::AutoPtr<Poco::XML::Document> admx = ParseTemplate(L"Norlo.admx");
    const std::map<std::string, TemplateValue> values = TemplateValues(admx);
    std::set<std::string> read;
    for (const ziz::PolicyDefinition& definition : ziz::PolicyTable()) {
        const std::string name = Narrow(definition.name);
        read.insert(name);
        const auto found = values.find(name);
        if (found == values.end()) {
            ADD_FAILURE() << name << " is read by the code but not in the template";
            continue;
        }
        const TemplateValue& value = found->second;
        EXPECT_EQ(static_cast<std::uint32_t>(definition.type), value.type) << name;
        if (definition.type == ziz::PolicyType::Number) {
            EXPECT_EQ(definition.minimum, value.minimum) << name;
            EXPECT_EQ(definition.maximum, value.maximum) << name;
            continue;
        }
        std::vector<std::string> choices;
        for (const std::wstring& choice : definition.choices) choices.push_back(Narrow(choice));
        EXPECT_EQ(choices, value.choices) << name;
        if (choices.empty()) {
            EXPECT_EQ(definition.maxLength, value.maxLength) << name;
        }
    }
    for (const auto& value : values) EXPECT_EQ(1u, read.count(value.first)) << value.first << " is no policy the code reads";
}

// The display texts, explanations and dialogs the ADMX names are all in the English ADML,
// and each dialog shows exactly the elements of its policy.
TEST(PolicyTemplates, TheAdmlHoldsEveryTextAndDialogTheAdmxNames)
{
    Poco::AutoPtr<Poco::XML::Document> admx = ParseTemplate(L"Norlo.admx");
    Poco::AutoPtr<Poco::XML::Document> adml = ParseTemplate(L"en-US\\Norlo.adml");
    std::set<std::string> strings;
    for (Element* string : AllElements(adml, "string")) {
        EXPECT_FALSE(string->innerText().empty()) << string->getAttribute("id");
        strings.insert(string->getAttribute("id"));
    }
    std::map<std::string, std::set<std::string>> presentations;
    for (Element* presentation : AllElements(adml, "presentation")) {
        std::set<std::string>& refs = presentations[presentation->getAttribute("id")];
        for (Element* control : ChildElements(presentation, "")) refs.insert(control->getAttribute("refId"));
    }
    std::map<std::string, std::set<std::string>> elementsOf;
    for (const auto& value : TemplateValues(admx))
        if (!value.second.element.empty()) elementsOf[value.second.policy].insert(value.second.element);

    const auto reference = [](const std::string& text, const std::string& table) {
        const std::string start = "$(" + table + ".";
        EXPECT_EQ(0u, text.find(start)) << text;
        return text.substr(start.size(), text.size() - start.size() - 1);
    };
    for (const std::string tag : {"policy", "category", "definition", "item"}) {
        for (Element* element : AllElements(admx, tag)) {
            EXPECT_EQ(1u, strings.count(reference(element->getAttribute("displayName"), "string")))
                << element->getAttribute("displayName");
            if (element->hasAttribute("explainText")) {
                EXPECT_EQ(1u, strings.count(reference(element->getAttribute("explainText"), "string")));
            }
        }
    }
    for (Element* policy : AllElements(admx, "policy")) {
        const std::string name = policy->getAttribute("name");
        if (!policy->hasAttribute("presentation")) {
            EXPECT_EQ(0u, elementsOf.count(name)) << name << " has elements but no dialog";
            continue;
        }
        const std::string presentation = reference(policy->getAttribute("presentation"), "presentation");
        ASSERT_EQ(1u, presentations.count(presentation)) << presentation;
        EXPECT_EQ(elementsOf[name], presentations[presentation]) << name;
    }
}

}  // namespace
