// The administrator's policies on the platform: the key as the registry holds it, the cache
// limit on a real folder, and the administrative templates of the release tree against the
// code's own table. The rules themselves are tests/portable/PolicyRulesTest.cpp.
// Poco first: its headers bring winsock2.h, which must come before windows.h.
#include <Poco/AutoPtr.h>
#include <Poco/DOM/DOMParser.h>
#include <Poco/DOM/Document.h>
#include <Poco/DOM/Element.h>
#include <Poco/DOM/NodeList.h>
#include <Poco/SAX/XMLReader.h>

#include "engine/policy/CacheLimit.h"
#include "engine/policy/PolicyKey.h"
#include "engine/policy/PolicyRules.h"
#include "osh/Exception.h"
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

using testenv::Narrow;

constexpr std::uint32_t kText = 1;
constexpr std::uint32_t kNumber = 4;

std::string Effect(const ziz::Policies& policies)
{
    std::string text;
    for (const auto& policy : policies.InEffect()) text += (text.empty() ? "" : " ") + Narrow(policy.first + L"=" + policy.second);
    return text;
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

// A key that is there but refuses its reader is no missing key: the run is told why, and no
// policy of the key is taken for absent.
TEST(PolicyKey, UnreadableKeyIsNoMissingKey)
{
    const testsupport::PolicyKeyScope key;
    EXPECT_EQ("", ziz::PolicyKeyUnreadable()) << "no key is no failure";
    ASSERT_TRUE(key.SetNumber(L"SelfUpdate", 0));
    EXPECT_EQ("", ziz::PolicyKeyUnreadable());
    ASSERT_TRUE(key.DenyReading());
    try {
        ziz::ReadPolicyValues();
        ADD_FAILURE() << "a refused key was read as values";
    } catch (const win::exception& error) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error.code());
    }
    EXPECT_EQ("", Effect(ziz::RunPolicies()));
    EXPECT_EQ(testsupport::UnreadableKeyLine(ERROR_ACCESS_DENIED), ziz::PolicyKeyUnreadable());
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
    // Element names are matched by their local names, whatever prefix a template uses.
    parser.setFeature(Poco::XML::XMLReader::FEATURE_NAMESPACES, true);
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
