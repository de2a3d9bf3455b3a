// Install sequence documents: item values, the loader's ordering and failure lines, and
// the document embedded in the product's resources.
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include "osh/Exception.h"
#include "osh/Platform.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <fstream>
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
    EXPECT_TRUE(item.GetProperty(name, value)) << "no property " << testenv::Narrow(name);
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

// The document the executable carries, read from this test program's own resources.
class EmbeddedSequence : public ::testing::Test {
protected:
    void SetUp() override { ReadResourceBlob(300, blob_); }

    void ExpectPlatformItems(const InstallSequence& sequence, const std::wstring& arch)
    {
        const std::vector<std::wstring> expected{
            L"norlo5-custom-5.0.1038.10828__PRE.msi", L"vcredist_" + arch + L".exe",
            L"norlo5-runtimes-" + arch + L"-5.0.msi", L"norlo5-viewer-" + arch + L"-5.0.1038.10828.msi",
            L"norlo5-services-" + arch + L"-5.0.1038.10828.msi"};
        ASSERT_EQ(expected, Filenames(sequence));
        const std::wstring msi = L"msiexec /qn /i [APP] /log [LOG] /norestart";
        const std::wstring release = server_ + L"/5.0/norlo5/5.0.1038.10828/release/";
        unsigned int place = 0;
        for (const InstallItem& item : sequence) {
            EXPECT_EQ(place, ItemOrder(item));
            const bool redistributable = place == 1;
            EXPECT_EQ(redistributable ? server_ + L"/vcredist-9.0.30729.4148/vcredist_" + arch + L".exe"
                                      : release + item.Filename,
                      item.Url);
            EXPECT_EQ(redistributable ? L"[APP] /q" : msi, Property(item, L"installCmd"));
            EXPECT_EQ(place == 4 ? L"no" : L"yes", Property(item, L"viewer"));
            EXPECT_EQ(L"yes", Property(item, L"services"));
            // The test build embeds the sample release's document: every item names the
            // MD5 digest of its file.
            EXPECT_EQ(32u, item.Hash.size());
            EXPECT_EQ(std::wstring::npos, item.Hash.find_first_not_of(L"0123456789abcdef"));
            EXPECT_EQ(L"", item.LocalPath);
            ++place;
        }
    }

    Blob blob_;
    const std::wstring server_ = testenv::Widen(NORLO_UPDATE_SERVER);
};

TEST_F(EmbeddedSequence, IsOneUnterminatedLine)
{
    ASSERT_FALSE(blob_.empty());
    EXPECT_NE('\0', blob_.back()) << "the resource is copied without a terminator";
    const std::string text(blob_.begin(), blob_.end());
    EXPECT_EQ(std::string::npos, text.find_first_of("\r\n"));
    EXPECT_EQ(0u, text.find("<?xml version=\"1.0\" encoding=\"us-ascii\"?><Installer>"));
}

TEST_F(EmbeddedSequence, LoadsThisSystemsComponentsInOrder)
{
    ASSERT_EQ(64, osh::GetNativeBitness()) << "the test prefix is a 64-bit system";
    LogCapture log;
    InstallSequence sequence;
    ASSERT_TRUE(LoadPlatformSequence(blob_, sequence, osh::GetNativeBitness() == 64));
    ExpectPlatformItems(sequence, L"x64");
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(EmbeddedSequence, CarriesThe32BitComponents)
{
    InstallSequence sequence;
    LoadX86Sequence(blob_, sequence);
    ExpectPlatformItems(sequence, L"x86");
    ASSERT_TRUE(LoadPlatformSequence(blob_, sequence, false));
    ExpectPlatformItems(sequence, L"x86");
}

TEST_F(EmbeddedSequence, CarriesBootstrapperAndApplianceItems)
{
    InstallItem bootstrapper;
    ASSERT_TRUE(LoadBootstrapperItem(blob_, bootstrapper));
    EXPECT_EQ(L"norlo5-Setup-5.0.1038.10828.exe", bootstrapper.Filename);
    EXPECT_EQ(L"5.0.1038.10828", bootstrapper.Version);
    EXPECT_EQ(server_ + L"/5.0/norlo5/5.0.1038.10828/release/norlo5-Setup-5.0.1038.10828.exe", bootstrapper.Url);
    EXPECT_EQ(L"yes", Property(bootstrapper, L"universal"));

    InstallItem appliance;
    ASSERT_TRUE(LoadApplianceItem(blob_, appliance));
    EXPECT_EQ(L"appliance.exe", appliance.Filename);
    EXPECT_EQ(L"5.0.1038.10828", appliance.Version) << "the release tool names executables' versions";
    EXPECT_EQ(server_ + L"/5.0/norlo5/5.0.1038.10828/release/appliance.exe", appliance.Url);
}

TEST(SequenceResource, MissingResourceThrowsWithTheLookupStep)
{
    Blob blob = MakeBlob("kept");
    try {
        ReadResourceBlob(4242, blob);
        FAIL() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("FindResourceEx()", error.context());
        EXPECT_EQ(static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND), error.code());
    }
    EXPECT_EQ(MakeBlob("kept"), blob);
}

class SequenceFile : public ::testing::Test {
protected:
    void SetUp() override { directory_ = testenv::MakeScratchDirectory(L"seqfile"); }
    void TearDown() override { testenv::RemoveTree(directory_); }

    std::wstring Write(const std::string& name, const std::string& bytes)
    {
        const std::wstring path = directory_ + L"\\" + testenv::Widen(name);
        std::ofstream out(path.c_str(), std::ios::binary);
        out << bytes;
        return path;
    }

    std::wstring directory_;
};

TEST_F(SequenceFile, ReadsRawBytesAndReplacesTheBlob)
{
    const std::string bytes = std::string("<Installer>\r\n\x00\xFF", 15) + "</Installer>";
    const std::wstring path = Write("update.xml", bytes);
    Blob blob = MakeBlob("previous content that is longer than the file itself, by far");
    ASSERT_TRUE(ReadFileBlob(path, blob));
    EXPECT_EQ(MakeBlob(bytes), blob);

    const std::wstring empty = Write("empty.xml", "");
    ASSERT_TRUE(ReadFileBlob(empty, blob));
    EXPECT_TRUE(blob.empty());
}

TEST_F(SequenceFile, ReadsAFileOthersHoldOpenForWriting)
{
    const std::wstring path = Write("update.xml", "<Installer/>");
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    Blob blob;
    EXPECT_TRUE(ReadFileBlob(path, blob));
    CloseHandle(writer);
    EXPECT_EQ(MakeBlob("<Installer/>"), blob);
}

TEST_F(SequenceFile, UnreadableFileIsLoggedAndLeavesTheBlob)
{
    LogCapture log;
    Blob blob = MakeBlob("kept");
    EXPECT_FALSE(ReadFileBlob(directory_ + L"\\missing.xml", blob));
    EXPECT_EQ(MakeBlob("kept"), blob);

    const std::wstring path = Write("locked.xml", "<Installer/>");
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_FALSE(ReadFileBlob(path, blob));
    CloseHandle(exclusive);
    EXPECT_EQ(MakeBlob("kept"), blob);

    const auto lines = log.Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Sequence file open failed", lines[0].text);
    EXPECT_EQ("Sequence file open failed", lines[1].text);
}

}  // namespace
