// Install sequence documents in memory: item values, the loader's ordering, parser
// behaviours and failure lines. Free of Windows: built natively with the sanitizers too.
#include "sequence/Blob.h"
#include "sequence/ItemIntegrity.h"
#include "sequence/SequenceLoader.h"

#include "osh/Text.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::LogCapture;

Blob MakeBlob(const std::string& text) { return Blob(text.begin(), text.end()); }

// A document with one sequence "x64" holding the given items.
Blob X64Document(const std::string& items) { return MakeBlob("<Installer><x64>" + items + "</x64></Installer>"); }

std::vector<std::wstring> Filenames(const InstallSequence& sequence)
{
    std::vector<std::wstring> names;
    for (const InstallItem& item : sequence) names.push_back(item.Filename);
    return names;
}

std::wstring Property(const InstallItem& item, const std::wstring& name)
{
    std::wstring value;
    EXPECT_TRUE(item.GetProperty(name, value)) << "no property " << osh::Narrow(name);
    return value;
}

InstallSequence LoadX64(const std::string& items)
{
    Blob blob = X64Document(items);
    InstallSequence sequence;
    EXPECT_TRUE(LoadSequence(blob, L"x64", sequence));
    return sequence;
}

TEST(SequenceTrim, StripsWhiteSpaceAtBothEndsOnly)
{
    EXPECT_EQ(L"5", TrimWhitespace(L"5"));
    EXPECT_EQ(L"5", TrimWhitespace(L"\r\n                5\r\n            "));
    EXPECT_EQ(L"a b\tc", TrimWhitespace(L"\t a b\tc \v\f"));
    EXPECT_EQ(L"", TrimWhitespace(L" \r\n\t "));
    EXPECT_EQ(L"", TrimWhitespace(L""));
    EXPECT_EQ(L"x", TrimWhitespace(L" x"));
    EXPECT_EQ(L"x", TrimWhitespace(L"x "));
}

TEST(SequenceItem, FixedFieldsMatchAnyCaseOtherNamesExactly)
{
    InstallItem item;
    item.SetProperty(L"FILENAME", L"a.msi");
    item.SetProperty(L"version", L"1.2");
    item.SetProperty(L"uRl", L"http://x/a.msi");
    item.SetProperty(L"hash", L"ABC");
    item.SetProperty(L"localpath", L"C:\\a.msi");
    item.SetProperty(L"installCmd", L"[APP] /q");
    item.SetProperty(L"InstallCmd", L"other");
    EXPECT_EQ(L"a.msi", item.Filename);
    EXPECT_EQ(L"1.2", item.Version);
    EXPECT_EQ(L"http://x/a.msi", item.Url);
    EXPECT_EQ(L"ABC", item.Hash);
    EXPECT_EQ(L"C:\\a.msi", item.LocalPath);
    ASSERT_EQ(2u, item.Properties.size());
    EXPECT_EQ(L"[APP] /q", item.Properties.at(L"installCmd"));
    EXPECT_EQ(L"other", item.Properties.at(L"InstallCmd"));

    item.SetProperty(L"installCmd", L"second");
    EXPECT_EQ(L"second", item.Properties.at(L"installCmd"));
    item.SetLocalPath(L"D:\\b.msi");
    EXPECT_EQ(L"D:\\b.msi", item.LocalPath);
}

TEST(SequenceItem, GetPropertyLooksInPropertiesThenFixedFields)
{
    InstallItem item;
    item.Filename = L"a.msi";
    item.Properties[L"viewer"] = L"yes";
    std::wstring out = L"stale";

    EXPECT_TRUE(item.GetProperty(L"viewer", out));
    EXPECT_EQ(L"yes", out);
    EXPECT_FALSE(item.GetProperty(L"Viewer", out));
    EXPECT_EQ(L"", out);

    EXPECT_TRUE(item.GetProperty(L"FileName", out));
    EXPECT_EQ(L"a.msi", out);
    out = L"stale";
    EXPECT_TRUE(item.GetProperty(L"hash", out)) << "an empty fixed field is still known";
    EXPECT_EQ(L"", out);

    // A Properties key that spells a fixed field can only come from outside SetProperty;
    // the exact key is asked first.
    item.Properties[L"url"] = L"from properties";
    item.Url = L"fixed";
    EXPECT_TRUE(item.GetProperty(L"url", out));
    EXPECT_EQ(L"from properties", out);
    EXPECT_TRUE(item.GetProperty(L"URL", out));
    EXPECT_EQ(L"fixed", out);
}

// Mirrors are further elements beside url: a reader that knows them asks them in document
// order after url; an older reader keeps only the last as a plain property it never reads.
TEST(SequenceLoad, MirrorElementsFollowTheUrlInDocumentOrder)
{
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"0\"><mirror> http://b/a.msi </mirror><url>http://a/a.msi</url><filename>a.msi</filename>"
        "<MIRROR>http://c/a.msi</MIRROR><mirror>http://a/a.msi</mirror><mirror/></Item>"
        "<Item Order=\"1\" mirror=\"http://d/b.msi\"><url>http://a/b.msi</url></Item>"
        "<Item Order=\"2\"><url>http://a/c.msi</url></Item>");
    ASSERT_EQ(3u, sequence.size());
    const std::vector<InstallItem> items(sequence.begin(), sequence.end());
    EXPECT_EQ((std::vector<std::wstring>{L"http://a/a.msi", L"http://b/a.msi", L"http://c/a.msi"}),
              items[0].Addresses());
    ASSERT_EQ(1u, items[0].Properties.size()) << "a mirror is no property of its own";
    EXPECT_EQ(L"0", items[0].Properties.at(L"Order"));
    EXPECT_EQ((std::vector<std::wstring>{L"http://a/b.msi", L"http://d/b.msi"}), items[1].Addresses());
    EXPECT_EQ(std::vector<std::wstring>{L"http://a/c.msi"}, items[2].Addresses()) << "one address as before";
    InstallItem none;
    EXPECT_TRUE(none.Addresses().empty());
}

TEST(SequenceLoad, TrimsElementTextAndKeepsOneCharacterValues)
{
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"0\"><version>5</version><filename>\r\n    a.msi\r\n  </filename>"
        "<installCmd>\r\n                msiexec /qn /i [APP]\r\n            </installCmd>"
        "<viewer> \r\n\t </viewer><services/><LocalPath\n></LocalPath></Item>");
    ASSERT_EQ(1u, sequence.size());
    const InstallItem& item = sequence.front();
    EXPECT_EQ(L"5", item.Version);
    EXPECT_EQ(L"a.msi", item.Filename);
    EXPECT_EQ(L"msiexec /qn /i [APP]", Property(item, L"installCmd"));
    EXPECT_EQ(L"", Property(item, L"viewer"));
    EXPECT_EQ(L"", Property(item, L"services"));
    EXPECT_EQ(L"", item.LocalPath);
}

TEST(SequenceLoad, AttributesAreStoredAsWritten)
{
    const InstallSequence sequence = LoadX64("<Item Order=\"3\" note=\"  spaced  \" Url=\" http://a \"></Item>");
    ASSERT_EQ(1u, sequence.size());
    const InstallItem& item = sequence.front();
    EXPECT_EQ(L"3", Property(item, L"Order"));
    EXPECT_EQ(L"  spaced  ", Property(item, L"note"));
    EXPECT_EQ(L" http://a ", item.Url);
}

TEST(SequenceLoad, SortsNumericallyAndKeepsDocumentOrderForEqualPlaces)
{
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"10\"><filename>ten</filename></Item>"
        "<Item Order=\"9\"><filename>nine</filename></Item>"
        "<Item Order=\"1\"><filename>one-a</filename></Item>"
        "<Item><filename>none</filename></Item>"
        "<Item Order=\"1\"><filename>one-b</filename></Item>"
        "<Item Order=\"abc\"><filename>text</filename></Item>"
        "<Item Order=\"0\"><filename>zero</filename></Item>"
        "<Item Order=\" 2x\"><filename>two</filename></Item>");
    const std::vector<std::wstring> expected{L"none", L"text", L"zero", L"one-a", L"one-b", L"two", L"nine", L"ten"};
    EXPECT_EQ(expected, Filenames(sequence));
}

TEST(SequenceLoad, NegativeOrTooLargePlacesCountAsZero)
{
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"1\"><filename>one</filename></Item>"
        "<Item Order=\" -1\"><filename>negative</filename></Item>"
        "<Item Order=\"4294967296\"><filename>too large</filename></Item>"
        "<Item Order=\"4294967295\"><filename>largest</filename></Item>"
        "<Item Order=\"+2\"><filename>plus two</filename></Item>");
    const std::vector<std::wstring> expected{L"negative", L"too large", L"one", L"plus two", L"largest"};
    EXPECT_EQ(expected, Filenames(sequence));
}

TEST(SequenceLoad, LowerCaseOrderAttributeDoesNotSetThePlace)
{
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"1\"><filename>first</filename></Item>"
        "<Item order=\"5\"><filename>lower</filename></Item>");
    ASSERT_EQ(2u, sequence.size());
    EXPECT_EQ(L"lower", sequence.front().Filename);
    EXPECT_EQ(L"5", Property(sequence.front(), L"order"));
    EXPECT_EQ(0u, sequence.front().Properties.count(L"Order"));
    EXPECT_EQ(0u, ItemOrder(sequence.front()));
    EXPECT_EQ(1u, ItemOrder(sequence.back()));
}

TEST(SequenceLoad, NodeNamesMatchAnyCase)
{
    Blob blob = MakeBlob(
        "<INSTALLER><X64><item Order=\"0\"><FILENAME>upper</FILENAME></item>"
        "<ITEM Order=\"1\"><filename>lower</filename><FileName>mixed</FileName></ITEM></X64></INSTALLER>");
    InstallSequence sequence;
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    EXPECT_EQ((std::vector<std::wstring>{L"upper", L"mixed"}), Filenames(sequence));
}

TEST(SequenceLoad, LastOfTwoElementsWins)
{
    const InstallSequence sequence =
        LoadX64("<Item><url>http://first/a.exe</url><url>http://second/a.exe</url><viewer>no</viewer><viewer>yes</viewer></Item>");
    ASSERT_EQ(1u, sequence.size());
    EXPECT_EQ(L"http://second/a.exe", sequence.front().Url);
    EXPECT_EQ(L"yes", Property(sequence.front(), L"viewer"));
}

TEST(SequenceLoad, OnlyItemElementsOfTheNamedSequenceCount)
{
    Blob blob = MakeBlob(
        "<Installer><x86><Item><filename>x86 item</filename></Item></x86>"
        "<x64><Note>ignored</Note><Item><filename>a</filename></Item><!-- a comment -->"
        "<Other><Item><filename>nested</filename></Item></Other><Item><filename>b</filename></Item></x64>"
        "<x64><Item><filename>second x64</filename></Item></x64></Installer>");
    InstallSequence sequence;
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"b"}), Filenames(sequence));
}

TEST(SequenceLoad, ParserBehavioursTheDocumentsRelyOn)
{
    Blob blob = MakeBlob(
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"us-ascii\"?><!DOCTYPE Installer><!-- head -->"
        "<?hook data?><Installer><x64><Item Order=\"0\" note=\"a&amp;b\">"
        "<installCmd>run &quot;[APP]&quot; &lt;&gt; &#65;&#x42;</installCmd>"
        "<Hash><![CDATA[not the value]]></Hash>"
        "<filename>first run<!-- c -->second run</filename>"
        "<viewer>\xE9</viewer></Item></x64></Installer>");
    InstallSequence sequence;
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    ASSERT_EQ(1u, sequence.size());
    const InstallItem& item = sequence.front();
    EXPECT_EQ(L"run \"[APP]\" <> AB", Property(item, L"installCmd"));
    EXPECT_EQ(L"a&b", Property(item, L"note"));
    EXPECT_EQ(L"", item.Hash) << "a CDATA section is not the element's value";
    EXPECT_EQ(L"first run", item.Filename) << "the value is the first text run";
    EXPECT_EQ(std::wstring(1, static_cast<wchar_t>(0xE9)), Property(item, L"viewer")) << "one byte, one character";
}

TEST(SequenceLoad, AppendsTheTerminatorOnce)
{
    Blob blob = X64Document("<Item/>");
    const std::size_t size = blob.size();
    InstallSequence sequence;
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    ASSERT_EQ(size + 1, blob.size());
    EXPECT_EQ('\0', blob.back());
    EXPECT_EQ('>', blob[size - 1]);
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    EXPECT_EQ(size + 1, blob.size());

    Blob terminated = MakeBlob(std::string("<Installer><x64><Item/></x64></Installer>") + '\0');
    const std::size_t terminatedSize = terminated.size();
    ASSERT_TRUE(LoadSequence(terminated, L"x64", sequence));
    EXPECT_EQ(terminatedSize, terminated.size());
    EXPECT_EQ(1u, sequence.size());
}

TEST(SequenceLoad, ClearsTheOutputFirst)
{
    InstallSequence sequence(3);
    Blob blob = X64Document("<Item><filename>only</filename></Item>");
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    EXPECT_EQ(std::vector<std::wstring>{L"only"}, Filenames(sequence));

    Blob broken = MakeBlob("<Installer>");
    EXPECT_FALSE(LoadSequence(broken, L"x64", sequence));
    EXPECT_TRUE(sequence.empty());
}

TEST(SequenceLoadFailure, MalformedXmlLogsTheParserMessageAndPosition)
{
    LogCapture log;
    InstallSequence sequence(1);
    Blob blob = MakeBlob("<Installer><x64 <Item/></x64></Installer>");
    EXPECT_FALSE(LoadSequence(blob, L"x64", sequence));
    EXPECT_TRUE(sequence.empty());
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ("XML: Parse Error - expected > at <Item/></x64></Installer>", log.Lines()[0].text);
    EXPECT_EQ(Message::PRIO_ERROR, log.Lines()[0].priority);

    log.Clear();
    Blob unterminated = MakeBlob("<Installer><x64><Item Order=\"1\">");
    EXPECT_FALSE(LoadSequence(unterminated, L"x64", sequence));
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ(0u, log.Lines()[0].text.rfind("XML: Parse Error - unexpected end of data at", 0)) << log.Lines()[0].text;
}

TEST(SequenceLoadFailure, MissingRootOrSequenceIsLogged)
{
    LogCapture log;
    InstallSequence sequence;
    Blob noRoot = MakeBlob("<Setup><x64/></Setup>");
    EXPECT_FALSE(LoadSequence(noRoot, L"x64", sequence));
    Blob empty;
    EXPECT_FALSE(LoadSequence(empty, L"x64", sequence));
    EXPECT_TRUE(empty.empty()) << "nothing is appended to an empty blob";
    Blob noSequence = MakeBlob("<Installer><x86><Item/></x86></Installer>");
    EXPECT_FALSE(LoadSequence(noSequence, L"x64", sequence));
    EXPECT_TRUE(sequence.empty());

    const auto lines = log.Lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("XML: Could not detect node Installer", lines[0].text);
    EXPECT_EQ("XML: Could not detect node Installer", lines[1].text);
    EXPECT_EQ("XML: Could not detect node x64", lines[2].text);
}

TEST(SequenceLoadFailure, EmptySequenceLoadsButIsNoPlatformSequence)
{
    LogCapture log;
    Blob blob = MakeBlob("<Installer><x64></x64><x86><Item/></x86></Installer>");
    InstallSequence sequence(2);
    EXPECT_TRUE(LoadSequence(blob, L"x64", sequence));
    EXPECT_TRUE(sequence.empty());
    EXPECT_FALSE(LoadPlatformSequence(blob, sequence, true));
    EXPECT_TRUE(LoadPlatformSequence(blob, sequence, false));
    EXPECT_EQ(1u, sequence.size());
    EXPECT_TRUE(log.Lines().empty());
}

TEST(SequenceLoadFailure, PlatformSequencesThrowAndPlatformChoiceLogs)
{
    Blob blob = MakeBlob("<Installer><bootstrapper/></Installer>");
    InstallSequence sequence(1);
    try {
        LoadX86Sequence(blob, sequence);
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ("Unable to load sequence 32-bit from Blob", error.what());
    }
    EXPECT_TRUE(sequence.empty());
    try {
        LoadX64Sequence(blob, sequence);
        FAIL() << "no exception";
    } catch (const std::exception& error) {
        EXPECT_STREQ("Unable to load sequence 64-bit from Blob", error.what());
    }

    LogCapture log;
    sequence.resize(1);
    EXPECT_FALSE(LoadPlatformSequence(blob, sequence, true));
    EXPECT_TRUE(sequence.empty());
    EXPECT_FALSE(LoadPlatformSequence(blob, sequence, false));
    const auto lines = log.Lines();
    ASSERT_EQ(4u, lines.size());
    EXPECT_EQ("XML: Could not detect node x64", lines[0].text);
    EXPECT_EQ("Unable to load sequence 64-bit from Blob", lines[1].text);
    EXPECT_EQ("XML: Could not detect node x86", lines[2].text);
    EXPECT_EQ("Unable to load sequence 32-bit from Blob", lines[3].text);
}

TEST(SequenceSingleItem, BootstrapperAndApplianceNeedExactlyOneItem)
{
    Blob blob = MakeBlob(
        "<Installer><appliance><Item><filename>a.exe</filename></Item><Item><filename>b.exe</filename></Item>"
        "</appliance><bootstrapper><Item Order=\"0\"><filename>setup.exe</filename><version>5.0.1.2</version></Item>"
        "</bootstrapper></Installer>");
    LogCapture log;
    InstallItem item;
    item.Filename = L"untouched";
    EXPECT_FALSE(LoadApplianceItem(blob, item));
    EXPECT_EQ(L"untouched", item.Filename);
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ("Sequence appliance has wrong item count (2) is not one)", log.Lines()[0].text);

    log.Clear();
    ASSERT_TRUE(LoadBootstrapperItem(blob, item));
    EXPECT_EQ(L"setup.exe", item.Filename);
    EXPECT_EQ(L"5.0.1.2", item.Version);
    EXPECT_EQ(L"0", Property(item, L"Order"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(SequenceSingleItem, MissingOrEmptySequencesAreLogged)
{
    LogCapture log;
    InstallItem item;
    Blob noBootstrapper = MakeBlob("<Installer><appliance></appliance></Installer>");
    EXPECT_FALSE(LoadBootstrapperItem(noBootstrapper, item));
    EXPECT_FALSE(LoadApplianceItem(noBootstrapper, item));
    Blob broken = MakeBlob("<Installer>");
    EXPECT_FALSE(LoadApplianceItem(broken, item));

    const auto lines = log.Lines();
    ASSERT_EQ(5u, lines.size());
    EXPECT_EQ("XML: Could not detect node bootstrapper", lines[0].text);
    EXPECT_EQ("Unable to load sequence bootstrapper from Blob", lines[1].text);
    EXPECT_EQ("Sequence appliance has wrong item count (0) is not one)", lines[2].text);
    EXPECT_EQ(0u, lines[3].text.rfind("XML: Parse Error - ", 0));
    EXPECT_EQ("Unable to load sequence appliance from Blob", lines[4].text);
}
// Documents from the network are bounded in size, not in shape: nesting, item and
// attribute counts and Order texts of any kind must neither crash nor stall the loader.
std::string Repeat(const std::string& text, std::size_t count)
{
    std::string out;
    out.reserve(text.size() * count);
    for (std::size_t i = 0; i < count; ++i) out += text;
    return out;
}

// An x64 item holding its file name at the given element depth (Installer is depth 1).
Blob NestedDocument(std::size_t depth)
{
    const std::size_t wrappers = depth - 4;  // Installer, x64, Item and filename
    return MakeBlob("<Installer><x64><Item>" + Repeat("<w>", wrappers) + "<filename>deep</filename>" +
                    Repeat("</w>", wrappers) + "</Item></x64></Installer>");
}

TEST(SequenceLimits, NestingUpToTheLimitLoadsAndDeeperIsRefused)
{
    LogCapture log;
    InstallSequence sequence;
    Blob atLimit = NestedDocument(64);
    ASSERT_TRUE(LoadSequence(atLimit, L"x64", sequence));
    ASSERT_EQ(1u, sequence.size());
    EXPECT_TRUE(log.Lines().empty());

    Blob tooDeep = NestedDocument(65);
    sequence.resize(2);
    EXPECT_FALSE(LoadSequence(tooDeep, L"x64", sequence));
    EXPECT_TRUE(sequence.empty());
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ("XML: Document nested deeper than 64 levels", log.Lines()[0].text);
    EXPECT_EQ(Message::PRIO_ERROR, log.Lines()[0].priority);
}

TEST(SequenceLimits, FourMegabytesOfOpeningTagsAreRefusedWithoutExhaustingTheStack)
{
    LogCapture log;
    Blob blob = MakeBlob("<Installer><x64>" + Repeat("<a>", 4 * 1024 * 1024 / 3));
    InstallSequence sequence;
    EXPECT_FALSE(LoadSequence(blob, L"x64", sequence));
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_EQ("XML: Document nested deeper than 64 levels", log.Lines()[0].text);
}

TEST(SequenceLimits, SelfClosedCommentedAndQuotedTagsDoNotCountAsNesting)
{
    // Each of these would count a level per tag if read naively; none opens an element.
    const std::string flat = Repeat("<w/>", 200) + Repeat("<!-- <w> -->", 200) + Repeat("<![CDATA[<w>]]>", 200) +
                             Repeat("<?pi <w> ?>", 200) + "<v a=\"" + Repeat("<w>", 200) + "\" b='/>'></v>";
    Blob blob = MakeBlob("<!DOCTYPE Installer [" + Repeat("<w>", 200) + "]><Installer><x64><Item>" + flat +
                         "<filename>flat</filename></Item></x64></Installer>");
    InstallSequence sequence;
    ASSERT_TRUE(LoadSequence(blob, L"x64", sequence));
    ASSERT_EQ(1u, sequence.size());
    EXPECT_EQ(L"flat", sequence.front().Filename);
}

TEST(SequenceLimits, HundredsOfThousandsOfItemsLoadSortedAndStable)
{
    // Places cycle 4, 3, 2, 1, 0, so every place holds many items in document order.
    std::string items;
    const std::size_t count = 200000;
    for (std::size_t i = 0; i < count; ++i)
        items += "<Item Order=\"" + std::to_string(4 - i % 5) + "\"><filename>" + std::to_string(i) + "</filename></Item>";
    const InstallSequence sequence = LoadX64(items);
    ASSERT_EQ(count, sequence.size());
    unsigned int place = 0;
    long previous = -1;
    for (const InstallItem& item : sequence) {
        const unsigned int itemPlace = ItemOrder(item);
        ASSERT_GE(itemPlace, place);
        if (itemPlace != place) previous = -1;
        place = itemPlace;
        const long number = std::stol(item.Filename);
        ASSERT_GT(number, previous) << "equal places keep document order";
        previous = number;
    }
    EXPECT_EQ(L"4", sequence.front().Filename);
    EXPECT_EQ(L"199995", sequence.back().Filename);
}

TEST(SequenceLimits, HugeAttributeCountsAreKept)
{
    std::string attributes;
    for (int i = 0; i < 100000; ++i) attributes += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
    const InstallSequence sequence = LoadX64("<Item Order=\"2\"" + attributes + "><filename>wide</filename></Item>");
    ASSERT_EQ(1u, sequence.size());
    EXPECT_EQ(100001u, sequence.front().Properties.size());
    EXPECT_EQ(L"99999", Property(sequence.front(), L"a99999"));
    EXPECT_EQ(2u, ItemOrder(sequence.front()));
}

TEST(SequenceLimits, OrderTextsThatAreNoPlaceCountAsZero)
{
    const std::string enormous(10000, '9');
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"1\"><filename>one</filename></Item>"
        "<Item Order=\"" + enormous + "\"><filename>enormous</filename></Item>"
        "<Item Order=\"0x10\"><filename>hex</filename></Item>"
        "<Item Order=\"1e5\"><filename>exponent</filename></Item>"
        "<Item Order=\"\"><filename>empty</filename></Item>"
        "<Item Order=\"&#x39;\"><filename>nine</filename></Item>"
        "<Item Order=\"\t 3\"><filename>three</filename></Item>");
    // "0x10" reads as 0 and "1e5" as 1: the number stops at the first non-digit.
    const std::vector<std::wstring> expected{L"enormous", L"hex", L"empty", L"one", L"exponent", L"three", L"nine"};
    EXPECT_EQ(expected, Filenames(sequence));
}

TEST(SequenceLoad, Sha256AndSizeAreFixedFieldsOfAnyCase)
{
    LogCapture log;
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"0\"><filename>a.msi</filename><Hash>900150983cd24fb0d6963f7d28e17f72</Hash>"
        "<Sha256> BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD </Sha256><Size>3</Size></Item>"
        "<Item Order=\"1\"><filename>b.msi</filename><SHA256>ab</SHA256><size>3</size><sha256>"
        "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855</sha256></Item>"
        "<Item Order=\"2\"><filename>old.msi</filename><Hash>d41d8cd98f00b204e9800998ecf8427e</Hash></Item>");
    ASSERT_EQ(3u, sequence.size());
    const InstallItem& first = sequence.front();
    EXPECT_EQ(L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD", first.Sha256);
    EXPECT_EQ(L"3", first.Size);
    EXPECT_EQ(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", std::next(sequence.begin())->Sha256)
        << "the last element of a name wins, whatever its case";
    EXPECT_EQ(L"", sequence.back().Sha256) << "documents without the new elements load as before";
    EXPECT_EQ(L"", sequence.back().Size);
    EXPECT_EQ(0u, first.Properties.count(L"Sha256"));
    EXPECT_EQ(0u, first.Properties.count(L"Size"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST(SequenceLoad, MalformedSizeKeepsTheItemAndSaysWhyItCannotPass)
{
    LogCapture log;
    const InstallSequence sequence = LoadX64(
        "<Item Order=\"0\"><filename>a.msi</filename><Size>-1</Size></Item>"
        "<Item Order=\"1\"><filename>b.msi</filename><Size>1024</Size></Item>");
    ASSERT_EQ(2u, sequence.size()) << "dropping it would install less without a word";
    EXPECT_EQ(L"-1", sequence.front().Size);
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Install item \"a.msi\" has a malformed Size \"-1\" (expected a "
                                                  "decimal number of bytes); its file cannot pass verification"));
    EXPECT_FALSE(SizeMatches(sequence.front(), 0));
}

}  // namespace
