// The concrete engine's platform operations on the real system: embedded files written
// out, the update URL, temporary files, the embedded sequence, file versions and the best
// bootstrapper candidate in the key store.
#include "engine/OSWorker.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"
#include "support/BrokenPlatform.h"
#include "support/LogCapture.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::LogCapture;
using testsupport::LogLine;
using testsupport::SavedStoreValue;
using testsupport::UnusableTempDirectory;

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string SourceFile(const wchar_t* relative) { return ReadBytes(testenv::SourceDirectory() + L"\\" + relative); }

std::wstring DirectoryOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L'\\')); }

std::wstring NameOf(const std::wstring& path) { return path.substr(path.find_last_of(L'\\') + 1); }

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring TempPath()
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    return std::wstring(buffer, length);
}

// Removes the directories of the files the engine wrote.
class WrittenFiles : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::wstring& path : written_) testenv::RemoveTree(DirectoryOf(path));
    }
    std::wstring Written(const std::wstring& path)
    {
        written_.push_back(path);
        return path;
    }

    std::vector<std::wstring> written_;
    // These are the files of a run without elevation, in the user's temporary directory
    // (ElevatedFoldersTest covers the elevated run's own folder).
    testsupport::NotElevated notElevated_;
};

TEST(Construction, KnowsTheSystemAndThatTheTestBuildIsUnsigned)
{
    LogCapture log;
    ziz::OSWorker worker;
    EXPECT_TRUE(worker.Is64BitOs());
    EXPECT_FALSE(worker.IsSelfSigned());
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(nullptr, worker.GetWindow());
}

TEST_F(WrittenFiles, ResourceIsWrittenWholeIntoANewTemporaryDirectory)
{
    ziz::OSWorker worker;
    const std::wstring path = Written(worker.WriteResourceToFile(302, L"copy.cmd"));
    EXPECT_EQ(L"copy.cmd", NameOf(path));
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(TempPath(), DirectoryOf(DirectoryOf(path)) + L"\\"))
        << osh::Narrow(path);
    EXPECT_EQ(SourceFile(L"resources\\appcopy.cmd"), ReadBytes(path));
}

TEST_F(WrittenFiles, EmptyFileNameIsRefused)
{
    ziz::OSWorker worker;
    try {
        worker.WriteResourceToFile(302, L"");
        FAIL() << "an empty name must throw";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("Could not find directory/file names", error.what());
    }
}

TEST_F(WrittenFiles, MissingResourceNamesTheLookUp)
{
    ziz::OSWorker worker;
    try {
        worker.WriteResourceToFile(999, L"none.bin");
        FAIL() << "a missing resource must throw";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(0u, std::string(error.what()).rfind("FindResourceEx(", 0)) << error.what();
    }
}

TEST_F(WrittenFiles, NoTemporaryDirectoryIsRefused)
{
    ziz::OSWorker worker;
    UnusableTempDirectory unusable;
    LogCapture log;
    try {
        worker.WriteResourceToFile(301, L"setup.cmd");
        FAIL() << "without a directory the write must throw";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ("Could not find directory/file names", error.what());
    }
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "CreateNewTempDirectory() FAILED"));
}

TEST_F(WrittenFiles, SetupScriptIsWrittenOncePerEngine)
{
    ziz::OSWorker worker;
    const std::wstring first = Written(worker.GetSetupScriptPath());
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(L"setup.cmd", NameOf(first));
    EXPECT_EQ(SourceFile(L"resources\\setup.cmd"), ReadBytes(first));
    DeleteFileW(first.c_str());
    EXPECT_EQ(first, worker.GetSetupScriptPath());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(first.c_str())) << "not written a second time";
}

TEST_F(WrittenFiles, SetupScriptIsTriedAgainAfterAFailure)
{
    ziz::OSWorker worker;
    {
        UnusableTempDirectory unusable;
        LogCapture log;
        EXPECT_EQ(L"", worker.GetSetupScriptPath());
        const std::vector<LogLine> lines = log.Lines();
        ASSERT_EQ(3u, lines.size());
        EXPECT_EQ("CreateNewTempDirectory() FAILED", lines[0].text);
        EXPECT_EQ("Unable to get command script path.", lines[1].text);
        EXPECT_EQ("Could not find directory/file names", lines[2].text);
        for (const LogLine& line : lines) EXPECT_EQ(Message::PRIO_WARNING, line.priority);
    }
    const std::wstring path = Written(worker.GetSetupScriptPath());
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(SourceFile(L"resources\\setup.cmd"), ReadBytes(path));
}

TEST_F(WrittenFiles, ApplianceScriptIsANewCopyEveryTime)
{
    ziz::OSWorker worker;
    const std::wstring first = Written(worker.GetApplianceScriptPath());
    const std::wstring second = Written(worker.GetApplianceScriptPath());
    EXPECT_NE(DirectoryOf(first), DirectoryOf(second));
    EXPECT_EQ(L"appcopy.cmd", NameOf(first));
    EXPECT_EQ(L"appcopy.cmd", NameOf(second));
    const std::string expected = SourceFile(L"resources\\appcopy.cmd");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, ReadBytes(first));
    EXPECT_EQ(expected, ReadBytes(second));
}

TEST_F(WrittenFiles, ApplianceScriptFailureReachesTheCaller)
{
    ziz::OSWorker worker;
    UnusableTempDirectory unusable;
    EXPECT_THROW(worker.GetApplianceScriptPath(), std::runtime_error);
}

TEST_F(WrittenFiles, TemporaryFileIsEmptyAndInItsOwnDirectory)
{
    ziz::OSWorker worker;
    std::wstring first, second;
    ASSERT_TRUE(worker.CreateTempFile(first));
    Written(first);
    ASSERT_TRUE(worker.CreateTempFile(second));
    Written(second);
    EXPECT_NE(DirectoryOf(first), DirectoryOf(second));
    for (const std::wstring& path : {first, second}) {
        const std::wstring name = NameOf(path);
        EXPECT_EQ(0u, name.find(L"TMP")) << osh::Narrow(name);
        EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(L".tmp", name.substr(name.size() - 4)));
        EXPECT_TRUE(IsDirectory(DirectoryOf(path)));
        EXPECT_EQ("", ReadBytes(path));
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str()));
    }
}

TEST_F(WrittenFiles, TemporaryFileWithoutADirectoryFails)
{
    ziz::OSWorker worker;
    UnusableTempDirectory unusable;
    LogCapture log;
    std::wstring path = L"stale";
    EXPECT_FALSE(worker.CreateTempFile(path));
    EXPECT_EQ(L"", path);
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("CreateNewTempDirectory() FAILED", lines[0].text);
    EXPECT_EQ("Could not discover TempDir", lines[1].text);
}

class UpdateUrl : public ::testing::Test {
protected:
    void Store(const std::wstring& value)
    {
        testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL", REG_SZ, value.c_str(),
                                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    void Remove()
    {
        testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", L"updateURL");
        testsupport::DeleteStoreValue(HKEY_CURRENT_USER, L"Setup", L"updateURL");
    }

    SavedStoreValue saved_{L"Setup", L"updateURL"};
    const std::wstring builtIn_ = testenv::Widen(NORLO_UPDATE_SERVER) + L"/update.xml";
};

TEST_F(UpdateUrl, BuiltInAddressWithoutAnOverride)
{
    Remove();
    ziz::OSWorker worker;
    LogCapture log;
    std::wstring url = L"stale";
    ASSERT_TRUE(worker.GetUpdateUrl(url));
    EXPECT_EQ(builtIn_, url);
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(UpdateUrl, StoredValueOverridesTheBuiltInAddress)
{
    Store(L"http://127.0.0.1:1/elsewhere/update.xml");
    ziz::OSWorker worker;
    std::wstring url;
    ASSERT_TRUE(worker.GetUpdateUrl(url));
    EXPECT_EQ(L"http://127.0.0.1:1/elsewhere/update.xml", url);
}

TEST_F(UpdateUrl, EmptyOverrideNamesNoServer)
{
    Store(L"");
    ziz::OSWorker worker;
    std::wstring url;
    ASSERT_TRUE(worker.GetUpdateUrl(url));
    EXPECT_EQ(builtIn_, url);
}

TEST(EmbeddedSequence, LoadsTheFiveComponentsOfThisSystemInOrder)
{
    ziz::OSWorker worker;
    LogCapture log;
    InstallSequence items;
    ASSERT_TRUE(worker.LoadEmbeddedSequence(items));
    std::vector<std::wstring> names;
    for (const InstallItem& item : items) names.push_back(item.Filename);
    const std::vector<std::wstring> expected{L"norlo5-custom-5.0.1038.10828__PRE.msi", L"vcredist_x64.exe",
                                             L"norlo5-runtimes-x64-5.0.msi",
                                             L"norlo5-viewer-x64-5.0.1038.10828.msi",
                                             L"norlo5-services-x64-5.0.1038.10828.msi"};
    EXPECT_EQ(expected, names);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(FileVersions, ProgramVersionIsRead)
{
    ziz::OSWorker worker;
    std::wstring version;
    ASSERT_TRUE(worker.GetFileVersion(version, testenv::SetupExecutable()));
    EXPECT_EQ(testenv::Widen(NORLO_VERSION_TEXT), version);
}

TEST(FileVersions, FileWithoutVersionFails)
{
    ziz::OSWorker worker;
    std::wstring version = L"stale";
    EXPECT_FALSE(worker.GetFileVersion(version, testenv::SourceDirectory() + L"\\resources\\setup.cmd"));
    EXPECT_EQ(L"", version);
    EXPECT_FALSE(worker.GetFileVersion(version, testenv::SourceDirectory() + L"\\no such file.exe"));
}

class Candidates : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const wchar_t* name : {L"NewestVersion", L"NewestPath"}) {
            testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", name);
            testsupport::DeleteStoreValue(HKEY_CURRENT_USER, L"Setup", name);
        }
    }
    static std::wstring Stored(const wchar_t* name)
    {
        std::wstring value;
        if (!testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Setup", name, value))
            return L"(missing)";
        return value;
    }

    SavedStoreValue version_{L"Setup", L"NewestVersion"};
    SavedStoreValue path_{L"Setup", L"NewestPath"};
};

TEST_F(Candidates, OnlyANewerCandidateIsStored)
{
    ziz::OSWorker worker;
    EXPECT_TRUE(worker.ConsiderCandidate(L"C:\\Media\\Setup.exe", L"5.0.1035.10828"));
    EXPECT_EQ(L"5.0.1035.10828", Stored(L"NewestVersion"));
    EXPECT_EQ(L"C:\\Media\\Setup.exe", Stored(L"NewestPath"));

    EXPECT_FALSE(worker.ConsiderCandidate(L"C:\\Old\\Setup.exe", L"5.0.1034.99999"));
    EXPECT_FALSE(worker.ConsiderCandidate(L"C:\\Same\\Setup.exe", L"5.0.1035.10828"));
    EXPECT_EQ(L"5.0.1035.10828", Stored(L"NewestVersion"));
    EXPECT_EQ(L"C:\\Media\\Setup.exe", Stored(L"NewestPath"));

    EXPECT_TRUE(worker.ConsiderCandidate(L"C:\\New\\Update.exe", L"5.0.1038.10828"));
    EXPECT_EQ(L"5.0.1038.10828", Stored(L"NewestVersion"));
    EXPECT_EQ(L"C:\\New\\Update.exe", Stored(L"NewestPath"));
    std::wstring path, version;
    worker.GetBestCandidate(path, version);
    EXPECT_EQ(L"C:\\New\\Update.exe", path);
    EXPECT_EQ(L"5.0.1038.10828", version);
}

}  // namespace
