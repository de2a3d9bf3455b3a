// The sample release the end-to-end tests install from: its packages really install and
// uninstall under the platform's installer, its stand-ins take their switches, its newer
// bootstrapper is newer, and the documents the release tool wrote load through the
// product's own loader with digests that match the files served.
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include "osh/Download.h"
#include "osh/FileHash.h"
#include "osh/ScopedHandle.h"
#include "support/EndToEnd.h"
#include "support/TestEnvironment.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

const std::wstring kRelease = L"5.0.1038.10828";

struct SamplePackage {
    std::wstring file;
    std::wstring payload;
    std::wstring uninstallNumber;
    std::wstring programFolder;
    REGSAM view;
};

std::wstring ProgramFolder(const wchar_t* variable)
{
    wchar_t buffer[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(variable, buffer, MAX_PATH);
    return std::wstring(buffer, length) + L"\\Norlo 5";
}

std::vector<SamplePackage> X64Packages()
{
    const std::wstring folder = ProgramFolder(L"ProgramW6432");
    return {{L"norlo5-runtimes-x64-5.0.msi", L"runtimes-x64.txt", L"2", folder, KEY_WOW64_64KEY},
            {L"norlo5-viewer-x64-" + kRelease + L".msi", L"viewer-x64.txt", L"3", folder, KEY_WOW64_64KEY},
            {L"norlo5-services-x64-" + kRelease + L".msi", L"services-x64.txt", L"4", folder, KEY_WOW64_64KEY}};
}

// The custom package serves both platforms, so it is a 32-bit package: on a 64-bit system
// its file and values land where 32-bit programs write.
SamplePackage CustomPackage()
{
    return {L"norlo5-custom-" + kRelease + L"__PRE.msi", L"custom.txt", L"0", ProgramFolder(L"ProgramFiles(x86)"),
            KEY_WOW64_32KEY};
}

bool FileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string ReadText(const std::wstring& path)
{
    std::ifstream stream(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

DWORD RunCommand(const std::wstring& commandLine)
{
    const testenv::ProcessResult result = testenv::Run(commandLine, 180000);
    EXPECT_TRUE(result.started) << testenv::Narrow(commandLine);
    EXPECT_TRUE(result.finished) << testenv::Narrow(commandLine);
    return result.exitCode;
}

// Installs one package with the platform's installer, checks what it registered, and
// removes it with the command it registered.
class SamplePackages : public ::testing::Test {
protected:
    void TearDown() override
    {
        // A package a failed check left installed is removed with its own command.
        std::wstring command;
        if (installed_ && endtoend::ReadStoreValue(L"uninstall", package_.uninstallNumber, command,
                                                   HKEY_LOCAL_MACHINE, package_.view)) {
            testenv::Run(command, 180000);
        }
    }

    void InstallRegistersAndUninstallRemovesEverything(const SamplePackage& package)
    {
        package_ = package;
        const std::wstring installed = package.programFolder + L"\\" + package.payload;
        // Another suite's install may have left the package behind (the suites share one
        // prefix and their order is not fixed): removed by its own package first.
        if (FileExists(installed)) RunCommand(L"msiexec /qn /x \"" + endtoend::ReleaseFile(package.file) + L"\"");
        ASSERT_FALSE(FileExists(installed)) << "left over from an earlier run";

        installed_ = true;
        ASSERT_EQ(0u, RunCommand(L"msiexec /qn /i \"" + endtoend::ReleaseFile(package.file) + L"\""));
        EXPECT_TRUE(FileExists(installed)) << testenv::Narrow(installed);

        std::wstring command;
        ASSERT_TRUE(endtoend::ReadStoreValue(L"uninstall", package.uninstallNumber, command, HKEY_LOCAL_MACHINE,
                                             package.view));
        EXPECT_TRUE(std::regex_match(testenv::Narrow(command),
                                     std::regex("msiexec /x \\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\} /qn")))
            << testenv::Narrow(command);
        std::wstring listed;
        ASSERT_TRUE(endtoend::ReadStoreValue(L"Install-Files", package.payload, listed, HKEY_LOCAL_MACHINE,
                                             package.view));
        EXPECT_EQ(installed, listed);
        ASSERT_TRUE(endtoend::ReadStoreValue(L"Install-Files", package.payload + L".state", listed,
                                             HKEY_LOCAL_MACHINE, package.view));
        EXPECT_EQ(installed + L".state", listed);

        EXPECT_EQ(0u, RunCommand(command));
        EXPECT_FALSE(FileExists(installed));
        EXPECT_FALSE(endtoend::ReadStoreValue(L"uninstall", package.uninstallNumber, command, HKEY_LOCAL_MACHINE,
                                              package.view));
        EXPECT_FALSE(endtoend::ReadStoreValue(L"Install-Files", package.payload, listed, HKEY_LOCAL_MACHINE,
                                              package.view));
    }

    SamplePackage package_;
    bool installed_ = false;
};

TEST_F(SamplePackages, Runtimes64) { InstallRegistersAndUninstallRemovesEverything(X64Packages()[0]); }

TEST_F(SamplePackages, Viewer64) { InstallRegistersAndUninstallRemovesEverything(X64Packages()[1]); }

TEST_F(SamplePackages, Services64) { InstallRegistersAndUninstallRemovesEverything(X64Packages()[2]); }

TEST_F(SamplePackages, CustomIsA32BitPackage) { InstallRegistersAndUninstallRemovesEverything(CustomPackage()); }

TEST(SamplePackageSet, X64PackagesUseDistinctUninstallNumbersAndProductCodes)
{
    std::vector<std::wstring> commands;
    for (const SamplePackage& package : X64Packages()) {
        ASSERT_EQ(0u, RunCommand(L"msiexec /qn /i \"" + endtoend::ReleaseFile(package.file) + L"\""));
    }
    std::vector<std::wstring> numbers = endtoend::StoreValueNames(L"uninstall");
    for (const std::wstring& number : numbers) {
        std::wstring command;
        ASSERT_TRUE(endtoend::ReadStoreValue(L"uninstall", number, command));
        commands.push_back(command);
    }
    for (const std::wstring& command : commands) RunCommand(command);

    EXPECT_EQ((std::vector<std::wstring>{L"2", L"3", L"4"}), numbers);
    ASSERT_EQ(3u, commands.size());
    EXPECT_NE(commands[0], commands[1]);
    EXPECT_NE(commands[1], commands[2]);
    EXPECT_TRUE(endtoend::StoreValueNames(L"uninstall").empty());
    EXPECT_TRUE(endtoend::StoreValueNames(L"Install-Files").empty());
}

class StandIns : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"standins");
        for (const wchar_t* name : {L"vcredist_x64.exe", L"vcredist_x86.exe", L"appliance.exe"}) {
            ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(name).c_str(), Copy(name).c_str(), FALSE));
        }
    }
    void TearDown() override { testenv::RemoveTree(scratch_); }

    std::wstring Copy(const std::wstring& name) const { return scratch_ + L"\\" + name; }

    std::wstring scratch_;
};

TEST_F(StandIns, RedistributablesSucceedWithQuietSwitchAndRecordTheRun)
{
    for (const wchar_t* name : {L"vcredist_x64.exe", L"vcredist_x86.exe"}) {
        EXPECT_EQ(0u, endtoend::RunProgram(Copy(name), L"/q"));
        const std::string record = ReadText(Copy(name) + L".ran");
        EXPECT_NE(std::string::npos, record.find(testenv::Narrow(Copy(name)) + "\" /q\r\n")) << record;
    }
}

TEST_F(StandIns, RedistributableWithoutQuietSwitchFails)
{
    EXPECT_EQ(2u, endtoend::RunProgram(Copy(L"vcredist_x64.exe"), L"/passive"));
    EXPECT_EQ(2u, endtoend::RunProgram(Copy(L"vcredist_x64.exe"), L""));
    const std::string record = ReadText(Copy(L"vcredist_x64.exe") + L".ran");
    EXPECT_NE(std::string::npos, record.find("/passive")) << "every run is recorded, also a refused one";
}

TEST_F(StandIns, ApplianceRecordsArgumentsAndWorkingDirectory)
{
    const std::wstring target = testenv::MakeScratchDirectory(L"appliance-target");
    const DWORD code = endtoend::RunProgram(Copy(L"appliance.exe"), L"-y ", 60000, target);
    const std::string record = ReadText(Copy(L"appliance.exe") + L".ran");
    testenv::RemoveTree(target);
    EXPECT_EQ(0u, code);
    EXPECT_NE(std::string::npos, record.find("\" -y \r\n")) << record;
    EXPECT_NE(std::string::npos, record.find("directory: " + testenv::Narrow(target) + "\r\n")) << record;
    EXPECT_EQ(2u, endtoend::RunProgram(Copy(L"appliance.exe"), L"-n"));
}

std::wstring FileVersionString(const std::wstring& path)
{
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return L"";
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return L"";
    wchar_t* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion", reinterpret_cast<void**>(&text),
                        &length)) {
        return L"";
    }
    return text;
}

TEST(SampleBootstrapper, CarriesTheReleaseVersionAboveThisBuild)
{
    const std::wstring newer = endtoend::ReleaseFile(L"norlo5-Setup-" + kRelease + L".exe");
    EXPECT_EQ(kRelease, FileVersionString(newer));
    EXPECT_EQ(testenv::Widen(NORLO_VERSION_TEXT), FileVersionString(testenv::SetupExecutable()));
    EXPECT_LT(NORLO_VERSION_BUILD, 1038) << "the sample release must stay newer than the product build";
}

Blob ReadDocument(const std::wstring& path)
{
    Blob blob;
    EXPECT_TRUE(ReadFileBlob(path, blob)) << testenv::Narrow(path);
    return blob;
}

// The file a URL of the documents names, below the given served folder.
std::wstring ServedFile(const std::wstring& root, const std::wstring& url)
{
    const std::wstring server = testenv::Widen(NORLO_UPDATE_SERVER) + L"/";
    EXPECT_EQ(0u, url.find(server)) << testenv::Narrow(url);
    std::wstring path = root + L"\\" + url.substr(server.size());
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
    return path;
}

std::vector<InstallItem> AllItems(Blob& blob)
{
    std::vector<InstallItem> items;
    InstallItem single;
    EXPECT_TRUE(LoadBootstrapperItem(blob, single));
    items.push_back(single);
    EXPECT_TRUE(LoadApplianceItem(blob, single));
    items.push_back(single);
    InstallSequence sequence;
    LoadX64Sequence(blob, sequence);
    EXPECT_EQ(5u, sequence.size());
    items.insert(items.end(), sequence.begin(), sequence.end());
    LoadX86Sequence(blob, sequence);
    EXPECT_EQ(5u, sequence.size());
    items.insert(items.end(), sequence.begin(), sequence.end());
    return items;
}

class SampleDocuments : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (laidOut_) endtoend::CleanRelease();
    }
    bool laidOut_ = false;
};

TEST_F(SampleDocuments, EmbeddedDocumentIsTheToolsUpdateDocumentWithoutTheBootstrapperDigests)
{
    Blob embedded;
    ReadResourceBlob(300, embedded);
    Blob written = ReadDocument(endtoend::ReleaseDocument(L"Sequence.xml"));
    Blob update = ReadDocument(endtoend::ReleaseDocument(L"update.xml"));
    Blob published = ReadDocument(endtoend::PublishedTree() + L"\\update.xml");
    EXPECT_EQ(written, embedded);
    EXPECT_EQ(update, published);

    const std::vector<InstallItem> inner = AllItems(written);
    const std::vector<InstallItem> outer = AllItems(update);
    ASSERT_EQ(outer.size(), inner.size());
    EXPECT_EQ(L"", inner[0].Hash + inner[0].Sha256 + inner[0].Size);
    EXPECT_EQ(outer[0].Version, inner[0].Version);
    EXPECT_EQ(outer[0].Url, inner[0].Url);
    EXPECT_NE(L"", outer[0].Sha256);
    for (size_t i = 1; i < inner.size(); ++i) {
        EXPECT_EQ(outer[i].Hash, inner[i].Hash) << testenv::Narrow(inner[i].Filename);
        EXPECT_EQ(outer[i].Sha256, inner[i].Sha256) << testenv::Narrow(inner[i].Filename);
        EXPECT_EQ(outer[i].Size, inner[i].Size) << testenv::Narrow(inner[i].Filename);
    }
}

TEST_F(SampleDocuments, EveryItemsDigestMatchesTheServedFile)
{
    endtoend::LayOutRelease();
    laidOut_ = true;
    Blob update = ReadDocument(endtoend::ServedRoot() + L"\\update.xml");
    const std::vector<InstallItem> items = AllItems(update);
    ASSERT_EQ(12u, items.size());
    for (const InstallItem& item : items) {
        const std::wstring served = ServedFile(endtoend::ServedRoot(), item.Url);
        EXPECT_EQ(testenv::Narrow(item.Hash), endtoend::FileMd5(served)) << testenv::Narrow(served);
        EXPECT_EQ(testenv::Narrow(item.Hash), endtoend::FileMd5(endtoend::ReleaseFile(item.Filename)));
        // The tool's SHA-256 (Python) against the engine's (one pass, 1 MiB reads).
        const osh::FileDigests digests = osh::CalculateFileDigests(served);
        EXPECT_EQ(item.Sha256, digests.Sha256) << testenv::Narrow(served);
        EXPECT_EQ(item.Size, std::to_wstring(digests.Bytes)) << testenv::Narrow(served);
    }
    EXPECT_EQ(kRelease, items[0].Version);
    EXPECT_EQ(kRelease, items[1].Version);
    EXPECT_EQ(L"9.0.30729.4148", items[3].Version) << "vcredist_x64.exe";
    EXPECT_EQ(L"", items[2].Version) << "packages carry no file version";
}

TEST_F(SampleDocuments, NewerBootstrapperEmbedsTheDocumentWithoutItsOwnDigest)
{
    const std::wstring newer = endtoend::ReleaseFile(L"norlo5-Setup-" + kRelease + L".exe");
    osh::ScopedLibrary module(LoadLibraryExW(newer.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    ASSERT_TRUE(module);
    HRSRC resource = FindResourceExW(module.get(), RT_RCDATA, MAKEINTRESOURCEW(300), 0);
    ASSERT_NE(nullptr, resource);
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module.get(), resource)));
    ASSERT_NE(nullptr, bytes);
    Blob inner(bytes, bytes + SizeofResource(module.get(), resource));
    Blob outer = ReadDocument(endtoend::ReleaseDocument(L"update.xml"));

    const std::vector<InstallItem> innerItems = AllItems(inner);
    const std::vector<InstallItem> outerItems = AllItems(outer);
    ASSERT_EQ(outerItems.size(), innerItems.size());
    EXPECT_EQ(L"", innerItems[0].Hash);
    EXPECT_EQ(outerItems[0].Version, innerItems[0].Version);
    EXPECT_EQ(endtoend::FileMd5(newer), testenv::Narrow(outerItems[0].Hash));
    for (size_t i = 1; i < innerItems.size(); ++i) {
        EXPECT_EQ(outerItems[i].Hash, innerItems[i].Hash) << testenv::Narrow(innerItems[i].Filename);
    }
}

TEST_F(SampleDocuments, TestServerServesTheReleaseAtTheUpdateServersAddress)
{
    EXPECT_EQ(testenv::Widen(NORLO_UPDATE_SERVER), endtoend::ServerAddress())
        << "the harness must start the server on the port the documents name";
    endtoend::LayOutRelease();
    laidOut_ = true;
    endtoend::ClearServerRequests();
    const std::wstring scratch = testenv::MakeScratchDirectory(L"served");
    const std::wstring fetched = scratch + L"\\update.xml";
    const bool downloaded = osh::DownloadToFile(fetched, testenv::Widen(NORLO_UPDATE_SERVER) + L"/update.xml");
    const std::string digest = downloaded ? endtoend::FileMd5(fetched) : "";
    testenv::RemoveTree(scratch);
    ASSERT_TRUE(downloaded);
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseDocument(L"update.xml")), digest);
    EXPECT_EQ(std::vector<std::string>{"/update.xml"}, endtoend::ServerRequests());

    endtoend::CleanRelease();
    laidOut_ = false;
    EXPECT_FALSE(FileExists(endtoend::ServedRoot() + L"\\update.xml"));
    EXPECT_FALSE(FileExists(endtoend::ServedRoot() + L"\\5.0"));
}

}  // namespace
