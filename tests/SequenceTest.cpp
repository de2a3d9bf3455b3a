// Install sequence documents from the platform: the document embedded in the product's
// resources and the file reader. The in-memory cases are in portable/SequenceLoaderTest.cpp.
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

    // A file of the given size starting with head; the rest is left to the file system
    // (sparse where it can be, so a test file of hundreds of megabytes costs nothing).
    std::wstring Sized(const std::string& name, const std::string& head, long long size)
    {
        const std::wstring path = Write(name, head);
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER end{};
        end.QuadPart = size;
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
        EXPECT_TRUE(SetEndOfFile(file));
        CloseHandle(file);
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

TEST_F(SequenceFile, FilesUpToTheBoundAreReadWhole)
{
    ASSERT_EQ(4194304u, kMaxSequenceFileSize);
    LogCapture log;
    const std::wstring path = Sized("largest.xml", "<Installer/>", static_cast<long long>(kMaxSequenceFileSize));
    Blob blob;
    ASSERT_TRUE(ReadFileBlob(path, blob));
    ASSERT_EQ(kMaxSequenceFileSize, blob.size());
    EXPECT_EQ("<Installer/>", std::string(blob.begin(), blob.begin() + 12));
    EXPECT_EQ('\0', blob.back());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(SequenceFile, LargerFilesAreRefusedWithTheirSizeAndLeaveTheBlob)
{
    LogCapture log;
    Blob blob = MakeBlob("kept");
    const std::wstring justAbove = Sized("above.xml", "<Installer/>", static_cast<long long>(kMaxSequenceFileSize) + 1);
    EXPECT_FALSE(ReadFileBlob(justAbove, blob));
    // Hundreds of megabytes are refused before anything is read or allocated.
    const std::wstring huge = Sized("huge.xml", "<Installer>", 300LL * 1024 * 1024);
    EXPECT_FALSE(ReadFileBlob(huge, blob));
    const std::wstring beyond32Bits = Sized("beyond.xml", "<Installer>", 5LL * 1024 * 1024 * 1024);
    EXPECT_FALSE(ReadFileBlob(beyond32Bits, blob));
    EXPECT_EQ(MakeBlob("kept"), blob);

    const auto lines = log.Lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("Sequence file too large (4194305 bytes, at most 4194304)", lines[0].text);
    EXPECT_EQ("Sequence file too large (314572800 bytes, at most 4194304)", lines[1].text);
    EXPECT_EQ("Sequence file too large (5368709120 bytes, at most 4194304)", lines[2].text);
    EXPECT_EQ(Message::PRIO_ERROR, lines[0].priority);
}

}  // namespace
