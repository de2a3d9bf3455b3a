// File-system helpers on real files and directories of the test prefix.
#include "osh/Exception.h"
#include "osh/FileSystem.h"
#include "osh/HeldFolderPath.h"
#include "osh/PathCompare.h"
#include "osh/PinnedFolder.h"
#include "osh/ReparsePoint.h"
#include "osh/ScopedHandle.h"
#include "osh/SystemInfo.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"

#include <psapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testenv::Narrow;

// A drive letter the prefix does not have.
std::wstring MissingDrive()
{
    const DWORD present = ::GetLogicalDrives();
    for (wchar_t letter = L'Q'; letter <= L'Y'; ++letter) {
        if ((present & (1u << (letter - L'A'))) == 0) return std::wstring(1, letter) + L":";
    }
    return L"";
}

void WriteText(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string ReadText(const std::wstring& path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string SddlOf(PSECURITY_DESCRIPTOR descriptor)
{
    LPWSTR text = nullptr;
    if (descriptor == nullptr ||
        !ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                              &text, nullptr))
        return "<none>";
    std::string result = Narrow(text);
    LocalFree(text);
    return result;
}

// Records each directory CreatePath creates together with the DACL it passes, then lets
// the real call do the work. Wine keeps no descriptor on disk, so the DACL is checked
// where it is handed over.
struct CreatedDirectory {
    std::wstring path;
    std::string dacl;
    bool inheritable;
};
std::vector<CreatedDirectory> g_created;

BOOL WINAPI RecordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    BOOL result = CreateDirectoryW(path, attributes);
    const DWORD error = GetLastError();
    if (result)
        g_created.push_back({path, SddlOf(attributes ? attributes->lpSecurityDescriptor : nullptr),
                             attributes != nullptr && attributes->bInheritHandle != FALSE});
    SetLastError(error);
    return result;
}

class RecordCreatedDirectories {
public:
    RecordCreatedDirectories() : previous_(osh::SetCreateDirectoryFunction(&RecordingCreateDirectory))
    {
        g_created.clear();
    }
    ~RecordCreatedDirectories() { osh::SetCreateDirectoryFunction(previous_); }

private:
    osh::CreateDirectoryFunction previous_;
};

void ExpectRestrictiveDacl(const CreatedDirectory& created)
{
    EXPECT_EQ("D:(D;OICI;GA;;;BG)(D;OICI;GA;;;AN)(A;OICI;GA;;;AU)(A;OICI;GA;;;BA)", created.dacl)
        << Narrow(created.path);
    EXPECT_FALSE(created.inheritable);
}

class FileSystem : public ::testing::Test {
protected:
    void SetUp() override { scratch = testenv::MakeScratchDirectory(L"osh-fs"); }
    void TearDown() override { testenv::RemoveTree(scratch); }

    std::wstring scratch;
};

TEST(AppendBackslash, AddsOneBackslashOnlyWhenMissing)
{
    EXPECT_EQ(L"", osh::AppendBackslash(L""));
    EXPECT_EQ(L"C:\\dir\\", osh::AppendBackslash(L"C:\\dir"));
    EXPECT_EQ(L"C:\\dir\\", osh::AppendBackslash(L"C:\\dir\\"));
}

// Paths compare as the file system compares names: letter case aside, non-ASCII letters
// included, and "inside" only at a separator.
TEST(PathCompare, CaseFoldingAndContainment)
{
    struct Row {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    for (const Row& row : std::vector<Row>{{L"C:\\Norlo 5\\Setup.exe", L"c:\\NORLO 5\\setup.EXE", true},
                                           {L"C:\\Pr\u00d6gramme\\\u00c9t\u00e9", L"c:\\pr\u00f6gramme\\\u00e9T\u00c9", true},
                                           {L"C:\\\u0394\u0399\u0391", L"c:\\\u03b4\u03b9\u03b1", true},
                                           {L"C:\\Norlo 5", L"C:\\Norlo 5\\", false},
                                           {L"C:\\a\u00df", L"C:\\ass", false},
                                           {L"", L"", true}}) {
        EXPECT_EQ(row.same, osh::SamePath(row.a, row.b)) << Narrow(row.a) << " / " << Narrow(row.b);
        EXPECT_EQ(row.same, osh::SamePath(row.b, row.a)) << Narrow(row.a) << " / " << Narrow(row.b);
    }
    EXPECT_LT(osh::ComparePaths(L"a.exe", L"B.exe"), 0);
    EXPECT_GT(osh::ComparePaths(L"b.exe", L"A.exe"), 0);
    EXPECT_TRUE(osh::PathStartsWith(L"\\Device\\HarddiskVolume1\\x", L"\\DEVICE\\harddiskvolume1\\"));

    struct Inside {
        const wchar_t* path;
        const wchar_t* directory;
        bool inside;
    };
    for (const Inside& row : std::vector<Inside>{
             {L"C:\\P\\Norlo 5\\x.exe", L"C:\\P\\Norlo 5", true},
             {L"C:\\P\\Norlo 5\\bin\\x.exe", L"c:\\p\\NORLO 5\\", true},
             {L"C:\\P\\\u00c4rger\\x.exe", L"C:\\P\\\u00e4RGER", true},
             {L"C:\\P\\Norlo 5 Beta\\x.exe", L"C:\\P\\Norlo 5", false},
             {L"C:\\P\\Norlo 50\\x.exe", L"C:\\P\\Norlo 5", false},
             {L"C:\\P\\Norlo 5", L"C:\\P\\Norlo 5", false},
             {L"C:\\P\\Norlo 5\\", L"C:\\P\\Norlo 5", false},
             {L"C:\\P\\Norlo 5\\x.exe", L"", false},
             {L"C:\\P", L"C:\\P\\Norlo 5", false}}) {
        EXPECT_EQ(row.inside, osh::IsPathInside(row.path, row.directory)) << Narrow(row.path) << " in "
                                                                        << Narrow(row.directory);
    }
}

TEST(SplitPath, BothForms)
{
    std::wstring dir = L"untouched", name = L"untouched";
    ASSERT_TRUE(osh::SplitPath(L"C:\\a\\b\\file.txt", dir, name));
    EXPECT_EQ(L"C:\\a\\b\\", dir);
    EXPECT_EQ(L"file.txt", name);

    // A directory part longer than the 257-character buffer cannot be split.
    dir = name = L"untouched";
    EXPECT_FALSE(osh::SplitPath(L"C:\\" + std::wstring(300, L'x') + L"\\f.txt", dir, name));
    EXPECT_EQ(L"untouched", dir);
    EXPECT_EQ(L"untouched", name);

    std::wstring drive, ext;
    osh::SplitPath(L"D:\\x\\y.tar.gz", drive, dir, name, ext);
    EXPECT_EQ(L"D:", drive);
    EXPECT_EQ(L"\\x\\", dir);
    EXPECT_EQ(L"y.tar", name);
    EXPECT_EQ(L".gz", ext);
    try {
        osh::SplitPath(L"C:\\" + std::wstring(300, L'x') + L"\\f.txt", drive, dir, name, ext);
        ADD_FAILURE() << "no exception for an oversized directory part";
    } catch (const errnoEx::exception& error) {
        EXPECT_EQ(0u, std::string(error.what()).find("_tsplitpath_s"));
        EXPECT_EQ(ERANGE, error.errnoValue());
    }
}

TEST_F(FileSystem, CreatePathOfRootsAndExistingDirectories)
{
    // A root answers from the flag alone; a drive that does not exist proves no call is made.
    const std::wstring missing = MissingDrive();
    ASSERT_FALSE(missing.empty());
    EXPECT_TRUE(osh::CreatePath(missing + L"\\", false));
    EXPECT_FALSE(osh::CreatePath(missing + L"\\", true));
    EXPECT_TRUE(osh::CreatePath(L"C:\\", false));
    EXPECT_FALSE(osh::CreatePath(L"C:\\", true));

    EXPECT_TRUE(osh::CreatePath(scratch, false));
    EXPECT_FALSE(osh::CreatePath(scratch, true));
}

TEST_F(FileSystem, CreatePathMakesEveryMissingLevelWithTheRestrictiveDescriptor)
{
    const std::wstring a = scratch + L"\\a", b = a + L"\\b", c = b + L"\\c";
    {
        RecordCreatedDirectories record;
        ASSERT_TRUE(osh::CreatePath(c, true));
        ASSERT_EQ(3u, g_created.size());
        const std::wstring expected[] = {a + L"\\", b + L"\\", c};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(Narrow(expected[i]), Narrow(g_created[i].path));
            ExpectRestrictiveDacl(g_created[i]);
        }
    }
    for (const std::wstring& level : {a, b, c}) EXPECT_TRUE(osh::IsDirectory(level)) << Narrow(level);
    EXPECT_FALSE(osh::CreatePath(c, true));
    EXPECT_TRUE(osh::CreatePath(c, false));
}

TEST_F(FileSystem, CreatePathEndsForTrailingBackslashesAndMissingDrives)
{
    const std::wstring deep = scratch + L"\\x\\y\\";
    EXPECT_TRUE(osh::CreatePath(deep, false));
    EXPECT_TRUE(osh::IsDirectory(scratch + L"\\x\\y"));

    // The root of a missing drive "exists", yet nothing below it can be made.
    EXPECT_FALSE(osh::CreatePath(MissingDrive() + L"\\nowhere\\deeper", false));
    EXPECT_FALSE(osh::CreatePath(MissingDrive() + L"\\nowhere\\", false));
}

TEST_F(FileSystem, FileCopyRefusalsLogTheirLines)
{
    testsupport::LogCapture capture;
    const std::wstring src = scratch + L"\\src.txt";
    WriteText(src, "payload");

    EXPECT_FALSE(osh::FileCopy(scratch + L"\\missing.txt", scratch + L"\\d1.txt", false));
    EXPECT_TRUE(capture.Contains(Message::PRIO_ERROR,
                                 "osh::FileCopy: GetFileAttributes() returned INVALID_FILE_ATTRIBUTES, src: " +
                                     Narrow(scratch) + "\\missing.txt"));

    EXPECT_FALSE(osh::FileCopy(scratch, scratch + L"\\d2.txt", false));
    EXPECT_TRUE(capture.Contains(Message::PRIO_ERROR, "osh::FileCopy: Source path must be a file, not a directory"));
    EXPECT_FALSE(osh::IsFile(scratch + L"\\d2.txt"));

    EXPECT_FALSE(osh::FileCopy(src, scratch, false));
    EXPECT_TRUE(
        capture.Contains(Message::PRIO_ERROR, "osh::FileCopy: Destination path must be a file, not a directory."));

    const std::wstring unsplittable = scratch + L"\\" + std::wstring(300, L'x') + L"\\f.txt";
    EXPECT_FALSE(osh::FileCopy(src, unsplittable, false));
    EXPECT_TRUE(capture.Contains(Message::PRIO_ERROR, "osh::FileCopy: osh::SplitPath failed, dest: " + Narrow(unsplittable)));

    const std::wstring missingDrive = MissingDrive();
    EXPECT_FALSE(osh::FileCopy(src, missingDrive + L"\\dir\\f.txt", false));
    EXPECT_TRUE(capture.Contains(Message::PRIO_ERROR,
                                 "osh::FileCopy: osh::CreatePath failed, destPath: " + Narrow(missingDrive) + "\\dir\\"));
    EXPECT_EQ(5u, capture.Lines().size());
}

TEST_F(FileSystem, FileCopyCopiesIntoNewDirectoriesAndHonoursFailIfExists)
{
    testsupport::LogCapture capture;
    const std::wstring src = scratch + L"\\src.txt";
    const std::wstring dest = scratch + L"\\new\\dir\\dest.txt";
    WriteText(src, "payload");
    ASSERT_TRUE(osh::FileCopy(src, dest, true));
    EXPECT_EQ("payload", ReadText(dest));
    EXPECT_TRUE(capture.Lines().empty());

    WriteText(src, "changed");
    EXPECT_FALSE(osh::FileCopy(src, dest, true));
    EXPECT_EQ("payload", ReadText(dest));
    EXPECT_TRUE(capture.Contains(Message::PRIO_ERROR, "osh::FileCopy: CopyFile() failed, GetLastError(): 80, src: " +
                                                          Narrow(src) + ", dest: " + Narrow(dest) +
                                                          ", failIfExists: 1"));

    EXPECT_TRUE(osh::FileCopy(src, dest, false));
    EXPECT_EQ("changed", ReadText(dest));
}

TEST_F(FileSystem, ListDirectorySeparatesFilesAndDirectories)
{
    WriteText(scratch + L"\\one.txt", "1");
    WriteText(scratch + L"\\two.bin", "2");
    ASSERT_TRUE(CreateDirectoryW((scratch + L"\\sub").c_str(), nullptr));
    std::vector<std::wstring> files{L"stale"}, dirs{L"stale"};
    osh::ListDirectory(scratch + L"\\sub\\..", files, dirs);
    std::sort(files.begin(), files.end());
    EXPECT_EQ((std::vector<std::wstring>{L"one.txt", L"two.bin"}), files);
    EXPECT_EQ((std::vector<std::wstring>{L"sub"}), dirs);

    osh::ListDirectory(scratch + L"\\sub", files, dirs);
    EXPECT_TRUE(files.empty());
    EXPECT_TRUE(dirs.empty());

    const std::wstring file = scratch + L"\\one.txt";
    try {
        osh::ListDirectory(file, files, dirs);
        ADD_FAILURE() << "a file was listed as a directory";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ("IsDirectory: '" + Narrow(file) + "' is not a directory", error.what());
    }
}

TEST_F(FileSystem, AttributeHelpersAndTheirContexts)
{
    const std::wstring file = scratch + L"\\a.txt";
    WriteText(file, "abc");
    osh::SetReadOnly(file, true);
    EXPECT_NE(0u, GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    osh::SetReadOnly(file, false);
    EXPECT_EQ(0u, GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY);

    WIN32_FILE_ATTRIBUTE_DATA data{};
    osh::GetAttributesEx(file, data);
    EXPECT_EQ(3u, data.nFileSizeLow);

    const std::wstring missing = scratch + L"\\missing.txt";
    try {
        osh::SetAttributes(missing, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("SetFileAttributes(\"" + Narrow(missing) + "\", 22)", error.context());
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error.code());
    }
    try {
        osh::GetAttributesEx(missing, data);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("GetFileAttributesEx(" + Narrow(missing) + ")", error.context());
    }
    try {
        osh::SetReadOnly(missing, true);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("GetFileAttributes", error.context());
    }
    try {
        osh::OpenFile(missing, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("CreateFile(\"" + Narrow(missing) + "\")", error.context());
    }

    osh::ScopedFile created(osh::OpenFile(scratch + L"\\w.bin", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    EXPECT_EQ(5u, osh::WriteFile(created.get(), "hello", 5, nullptr));
    created.reset();
    EXPECT_EQ("hello", ReadText(scratch + L"\\w.bin"));
    osh::ScopedFile readOnly(osh::OpenFile(scratch + L"\\w.bin", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    try {
        osh::WriteFile(readOnly.get(), "x", 1, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ("WriteFile()", error.context());
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), error.code());
    }

    EXPECT_EQ(L"C:\\windows\\system32", osh::GetFullPath(L"C:\\windows\\temp\\..\\system32"));
}

TEST(Drives, LogicalDrivesAndDevicePaths)
{
    std::vector<std::wstring> drives{L"stale"};
    osh::GetLogicalDrives(drives);
    ASSERT_FALSE(drives.empty());
    EXPECT_EQ(L"C:\\", drives.front());
    EXPECT_NE(drives.end(), std::find(drives.begin(), drives.end(), L"Z:\\"));

    std::wstring device = L"stale";
    ASSERT_TRUE(osh::ConvertDevicePathToDOSPath(L"C:\\windows", device));
    wchar_t target[512] = {};
    ASSERT_NE(0u, QueryDosDeviceW(L"C:", target, 512));
    EXPECT_EQ(std::wstring(target) + L"\\windows", device);

    device = L"stale";
    EXPECT_FALSE(osh::ConvertDevicePathToDOSPath(MissingDrive() + L"\\x", device));
    EXPECT_EQ(L"", device);

    const struct {
        const wchar_t* argument;
        const char* message;
    } malformed[] = {
        {L"1:\\x", "ConvertDevicePathToDOSPath: argument '1:\\x' not in format X:"},
        {L"C", "ConvertDevicePathToDOSPath: argument 'C' too short."},
        {L"", "ConvertDevicePathToDOSPath: argument '' too short."},
        {L"CC\\x", "ConvertDevicePathToDOSPath: argument 'CC\\x' not in format X:"},
        {L"[:", "ConvertDevicePathToDOSPath: argument '[:' not in format X:"},
    };
    for (const auto& entry : malformed) {
        try {
            osh::ConvertDevicePathToDOSPath(entry.argument, device);
            ADD_FAILURE() << "no exception for " << Narrow(entry.argument);
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(entry.message, error.what());
        }
    }
}

TEST(Drives, DevicePathOfThisProcessMapsBackToItsFile)
{
    wchar_t image[1024] = {};
    ASSERT_NE(0u, GetProcessImageFileNameW(GetCurrentProcess(), image, 1024));
    std::wstring dos = L"stale";
    ASSERT_TRUE(osh::DevicePathToDosPath(image, dos)) << Narrow(image);
    EXPECT_EQ(testenv::Narrow(osh::ModuleFileName(nullptr)), Narrow(dos)) << Narrow(image);

    EXPECT_FALSE(osh::DevicePathToDosPath(L"\\Device\\NoSuchVolume\\file", dos));
    EXPECT_EQ(L"", dos);
}

class TempDirectory : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t value[1024] = {};
        hadTmp_ = GetEnvironmentVariableW(L"TMP", value, 1024) != 0;
        tmp_ = value;
    }
    void TearDown() override { SetEnvironmentVariableW(L"TMP", hadTmp_ ? tmp_.c_str() : nullptr); }

    bool hadTmp_ = false;
    std::wstring tmp_;
};

TEST_F(TempDirectory, IsFreshAndGuidNamed)
{
    std::wstring first, second;
    RecordCreatedDirectories record;
    ASSERT_TRUE(osh::CreateNewTempDirectory(first));
    ASSERT_TRUE(osh::CreateNewTempDirectory(second));
    ASSERT_EQ(2u, g_created.size());
    EXPECT_EQ(Narrow(first), Narrow(g_created[0].path));
    ExpectRestrictiveDacl(g_created[0]);
    EXPECT_NE(first, second);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring prefix = osh::AppendBackslash(temp);
    const std::wregex guid(L"^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$");
    for (const std::wstring& made : {first, second}) {
        EXPECT_EQ(prefix, made.substr(0, prefix.size()));
        EXPECT_TRUE(std::regex_match(made.substr(prefix.size()), guid)) << Narrow(made);
        EXPECT_TRUE(osh::IsDirectory(made));
        RemoveDirectoryW(made.c_str());
    }
}

TEST_F(TempDirectory, FailsWhenTheTemporaryDirectoryIsUnusable)
{
    const std::wstring unusable = MissingDrive() + L"\\no-temp";
    ASSERT_TRUE(SetEnvironmentVariableW(L"TMP", unusable.c_str()));
    std::wstring out = L"stale";
    EXPECT_FALSE(osh::CreateNewTempDirectory(out));
    EXPECT_EQ(L"", out);
}

// --- Links: what the elevated run's file work asks before it acts ---------------------------

class ReparsePoints : public FileSystem {
protected:
    testsupport::CanaryFolder outside{L"osh-link-target"};
};

TEST_F(ReparsePoints, LinksAreSeenOnThePathButTheirTargetsAreNot)
{
    const testsupport::FolderLink link(scratch + L"\\folder-link", outside.folder);

    EXPECT_TRUE(osh::IsReparsePoint(link.path));
    EXPECT_FALSE(osh::IsReparsePoint(link.path + L"\\canary.txt")) << "the entry behind the link is no link itself";
    EXPECT_FALSE(osh::IsReparsePoint(outside.folder));
    EXPECT_FALSE(osh::IsReparsePoint(scratch + L"\\missing"));
    EXPECT_FALSE(osh::HasReparseAttribute(INVALID_FILE_ATTRIBUTES));
    EXPECT_FALSE(osh::HasReparseAttribute(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));

    std::wstring crossing = L"untouched";
    EXPECT_TRUE(osh::PathCrossesReparsePoint(link.path + L"\\deeper\\x.txt", &crossing));
    EXPECT_EQ(Narrow(link.path), Narrow(crossing));
    crossing = L"untouched";
    EXPECT_TRUE(osh::PathCrossesReparsePoint(link.path, &crossing));
    EXPECT_EQ(Narrow(link.path), Narrow(crossing));
    // Resolved as text first: ".." steps back out of the link before anything is asked.
    crossing = L"untouched";
    EXPECT_FALSE(osh::PathCrossesReparsePoint(link.path + L"\\..\\plain.txt", &crossing));
    EXPECT_EQ("untouched", Narrow(crossing));
    EXPECT_FALSE(osh::PathCrossesReparsePoint(outside.canary));
}

TEST_F(ReparsePoints, RemoveLinkTakesOnlyTheLinkOrNothing)
{
    const testsupport::FolderLink link(scratch + L"\\folder-link", outside.folder);
    // Read-only on the target must not matter, nor be changed.
    ASSERT_TRUE(SetFileAttributesW(outside.canary.c_str(), FILE_ATTRIBUTE_READONLY));

    if (testsupport::SystemRemovesLinks()) {
        osh::RemoveLink(link.path);
        EXPECT_FALSE(link.Present());
    } else {
        try {
            osh::RemoveLink(link.path);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ("RemoveLink: '" + Narrow(link.path) + "' could not be opened as a link; left in place",
                      std::string(error.what()));
        }
        EXPECT_TRUE(link.Present());
    }
    EXPECT_TRUE(outside.Intact());
    EXPECT_TRUE(GetFileAttributesW(outside.canary.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW(outside.canary.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ReparsePoints, RemoveLinkRefusesWhatIsNoLink)
{
    const std::wstring plain = scratch + L"\\plain";
    ASSERT_TRUE(CreateDirectoryW(plain.c_str(), nullptr));
    for (const std::wstring& path : {plain, outside.canary, scratch + L"\\missing"}) {
        try {
            osh::RemoveLink(path);
            ADD_FAILURE() << "no exception for " << Narrow(path);
        } catch (const std::runtime_error& error) {
            EXPECT_EQ("RemoveLink: '" + Narrow(path) + "' is not a link", std::string(error.what()));
        }
    }
    EXPECT_TRUE(osh::IsDirectory(plain));
    EXPECT_TRUE(outside.Intact());
}

// --- Pinned folders: changes made relative to a folder opened without following links ------

TEST(PinnedFolderRules, PlainEntryNames)
{
    const struct {
        const wchar_t* name;
        bool plain;
    } cases[] = {
        {L"Setup.exe", true},       {L"vcredist_x64.exe", true}, {L".nodelete", true},
        {L"a b", true},             {L"", false},                {L".", false},
        {L"..", false},             {L"a\\b", false},            {L"a/b", false},
        {L"C:", false},             {L"file.txt:stream", false}, {L"*.msi", false},
        {L"a?b", false},            {L"a\"b", false},            {L"a<b", false},
        {L"a>b", false},            {L"a|b", false},             {L"name.", false},
        {L"name ", false},          {L"tab\there", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.plain, osh::IsPlainEntryName(c.name)) << Narrow(c.name);
}

TEST(PinnedFolderRules, DrivePathsSplitIntoPlainNames)
{
    const struct {
        const wchar_t* path;
        bool split;
        const wchar_t* root;
        std::vector<std::wstring> names;
    } cases[] = {
        {L"C:\\", true, L"C:\\", {}},
        {L"c:\\ProgramData\\Norlo 5\\SetupFiles", true, L"c:\\", {L"ProgramData", L"Norlo 5", L"SetupFiles"}},
        {L"C:\\ProgramData\\", true, L"C:\\", {L"ProgramData"}},
        {L"C:\\a\\\\b", false, L"", {}},
        {L"C:\\a\\..\\b", false, L"", {}},
        {L"C:\\a\\.\\b", false, L"", {}},
        {L"C:relative", false, L"", {}},
        {L"\\\\server\\share\\x", false, L"", {}},
        {L"\\\\?\\C:\\x", false, L"", {}},
        {L"1:\\x", false, L"", {}},
        {L"C:\\x:stream", false, L"", {}},
    };
    for (const auto& c : cases) {
        std::wstring root = L"stale";
        std::vector<std::wstring> names{L"stale"};
        EXPECT_EQ(c.split, osh::SplitDrivePath(c.path, root, names)) << Narrow(c.path);
        EXPECT_EQ(Narrow(c.root), Narrow(root)) << Narrow(c.path);
        EXPECT_EQ(c.names, names) << Narrow(c.path);
    }
}

TEST(PinnedFolderRules, AReparsePointIsALinkWhateverElseItClaims)
{
    EXPECT_EQ(osh::EntryKind::Missing, osh::EntryKindOf(INVALID_FILE_ATTRIBUTES));
    EXPECT_EQ(osh::EntryKind::File, osh::EntryKindOf(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(osh::EntryKind::Folder, osh::EntryKindOf(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(osh::EntryKind::Link, osh::EntryKindOf(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(osh::EntryKind::Link, osh::EntryKindOf(FILE_ATTRIBUTE_REPARSE_POINT));
}

class PinnedFolders : public ReparsePoints {};

// Wine keeps an open folder by its path, so after the swap it answers some questions about
// the path (listings, deletes on close, renames) rather than the folder; Windows answers about
// the folder throughout. What Wine does show: a file made through the pinned handle lands in
// the folder itself, and nothing is made, changed or removed where the link leads.
TEST_F(PinnedFolders, ChangesLandInThePinnedFolderEvenWhenItsPathIsSwappedForALink)
{
    const std::wstring cache = scratch + L"\\cache";
    const osh::PinnedFolder folder = osh::PinnedFolder::OpenCreating(cache + L"\\inner", nullptr);
    EXPECT_EQ(Narrow(cache + L"\\inner"), Narrow(folder.Path()));
    EXPECT_EQ(osh::EntryKind::Missing, folder.KindOf(L"component.msi"));
    WriteText(cache + L"\\inner\\stale.txt", "s");

    // Another user moves the folder away and puts a link to elsewhere in its place.
    ASSERT_TRUE(MoveFileW(cache.c_str(), (scratch + L"\\moved").c_str()));
    const testsupport::FolderLink link(cache, outside.folder);
    {
        const osh::ScopedFile file = folder.OpenFile(L"written.bin", GENERIC_WRITE, 0, 2 /* FILE_CREATE */);
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), "bytes", 5, &written, nullptr));
    }
    const std::wstring source = scratch + L"\\source.bin";
    WriteText(source, "component bytes");
    osh::ScopedFile bytes(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(bytes.valid());
    try {
        folder.Remove(L"stale.txt");
        folder.WriteCopy(bytes.get(), L"component.msi");
    } catch (const win::exception& error) {
        // Wine: "invalid handle" for a rename relative to a folder that moved.
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), error.code()) << error.what();
    }

    EXPECT_EQ("bytes", ReadText(scratch + L"\\moved\\inner\\written.bin"));
    EXPECT_TRUE(outside.Intact());
    std::vector<std::wstring> files, folders;
    osh::ListDirectory(outside.folder, files, folders);
    EXPECT_EQ(std::vector<std::wstring>{L"canary.txt"}, files) << "nothing made where the link leads";
    EXPECT_TRUE(folders.empty());
}

TEST_F(PinnedFolders, ALinkOnTheWayOrInPlaceOfAnEntryIsRefused)
{
    const testsupport::FolderLink link(scratch + L"\\SetupFiles", outside.folder);
    for (const std::wstring& path : {link.path, link.path + L"\\deeper"}) {
        try {
            osh::PinnedFolder::OpenCreating(path, nullptr);
            ADD_FAILURE() << "no exception for " << Narrow(path);
        } catch (const osh::RefusedEntry& refused) {
            EXPECT_EQ(Narrow(link.path) + " is a link", std::string(refused.what()));
            EXPECT_EQ(osh::EntryKind::Link, refused.Kind());
        }
    }
    EXPECT_FALSE(osh::IsDirectory(outside.folder + L"\\deeper")) << "nothing made where the link leads";

    const osh::PinnedFolder folder = osh::PinnedFolder::Open(scratch);
    EXPECT_EQ(osh::EntryKind::Link, folder.KindOf(L"setupfiles")) << "names compare as the file system does";
    EXPECT_THROW(folder.Folder(L"SetupFiles"), osh::RefusedEntry);
    EXPECT_THROW(folder.OpenFile(L"SetupFiles", GENERIC_READ, FILE_SHARE_READ, 1), osh::RefusedEntry);
    EXPECT_THROW(folder.ChangeAttributes(L"SetupFiles", FILE_ATTRIBUTE_HIDDEN, 0), osh::RefusedEntry);
    EXPECT_THROW(folder.Rename(L"SetupFiles", L"other"), osh::RefusedEntry);
    // Removed as the link itself, or (where the system only opens the target) left alone.
    if (testsupport::SystemRemovesLinks()) {
        EXPECT_TRUE(folder.RemoveTree(L"SetupFiles"));
        EXPECT_FALSE(link.Present());
    } else {
        EXPECT_THROW(folder.RemoveTree(L"SetupFiles"), std::runtime_error);
        EXPECT_TRUE(link.Present());
    }
    EXPECT_TRUE(outside.Intact());
    // Names that are not one plain entry never reach the system.
    for (const wchar_t* name : {L"..", L"a\\b", L"x:y", L"*"}) EXPECT_THROW(folder.Remove(name), std::runtime_error) << Narrow(name);
    const osh::ScopedFile missing = [&] {
        try {
            return folder.OpenFile(L"missing.txt", GENERIC_READ, FILE_SHARE_READ, 1);
        } catch (const win::exception& error) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error.code());
            return osh::ScopedFile();
        }
    }();
    EXPECT_FALSE(missing.valid());
    try {
        osh::PinnedFolder::Open(scratch + L"\\missing\\deeper");
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), error.code());
    }
}

TEST_F(PinnedFolders, ACopyReplacesTheEntryAndNeverWritesThroughWhatWasThere)
{
    const osh::PinnedFolder folder = osh::PinnedFolder::Open(scratch);
    const std::wstring other = scratch + L"\\other name.txt";
    WriteText(other, "another file's bytes");
    // A hard link named as the copy's temporary file: writing into it would change the other name too.
    ASSERT_TRUE(CreateHardLinkW((scratch + L"\\Setup.exe.new").c_str(), other.c_str(), nullptr));
    WriteText(scratch + L"\\Setup.exe", "older");
    ASSERT_TRUE(SetFileAttributesW((scratch + L"\\Setup.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring source = scratch + L"\\new.bin";
    WriteText(source, "newer");
    osh::ScopedFile bytes(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(bytes.valid());

    folder.WriteCopy(bytes.get(), L"Setup.exe");
    EXPECT_EQ("newer", ReadText(scratch + L"\\Setup.exe"));
    EXPECT_EQ("another file's bytes", ReadText(other));
    EXPECT_FALSE(osh::IsFile(scratch + L"\\Setup.exe.new"));

    // A read-only file goes too; attributes change only on what the name holds.
    ASSERT_TRUE(SetFileAttributesW(other.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(folder.Remove(L"other name.txt"));
    EXPECT_FALSE(osh::IsFile(other));
    folder.ChangeAttributes(L"Setup.exe", FILE_ATTRIBUTE_HIDDEN, 0);
    EXPECT_TRUE(GetFileAttributesW((scratch + L"\\Setup.exe").c_str()) & FILE_ATTRIBUTE_HIDDEN);
}

// What takes only a path (a program's working directory) gets a held one: while it is held
// no folder on it can be moved away, and a path swapped before the hold is refused.
TEST_F(PinnedFolders, AHeldPathKeepsNamingThePinnedFolderOrIsRefused)
{
    const std::wstring medium = scratch + L"\\medium";
    const osh::PinnedFolder pinned = osh::PinnedFolder::OpenCreating(medium + L"\\inner", nullptr);
    {
        const osh::HeldFolderPath held(pinned);
        EXPECT_EQ(Narrow(pinned.Path()), Narrow(held.Path()));
        for (const std::wstring& folder : {medium, medium + L"\\inner"}) {
            EXPECT_FALSE(MoveFileW(folder.c_str(), (scratch + L"\\moved").c_str())) << Narrow(folder);
            EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError()) << Narrow(folder);
        }
        // Work inside the folder goes on as before.
        WriteText(medium + L"\\inner\\written.txt", "w");
        EXPECT_TRUE(DeleteFileW((medium + L"\\inner\\written.txt").c_str()));
    }
    // Released: the folder can move again. Another user moves it away and puts a link in
    // its place (made from the Unix side), then a plain folder of the same name.
    ASSERT_TRUE(MoveFileW(medium.c_str(), (scratch + L"\\moved").c_str()));
    {
        const testsupport::FolderLink link(medium, outside.folder);
        ASSERT_TRUE(CreateDirectoryW((outside.folder + L"\\inner").c_str(), nullptr));
        try {
            osh::HeldFolderPath held(pinned);
            ADD_FAILURE() << "no exception";
        } catch (const osh::RefusedEntry& refused) {
            EXPECT_EQ(Narrow(medium) + " is a link", std::string(refused.what()));
        }
        RemoveDirectoryW((outside.folder + L"\\inner").c_str());
    }
    ASSERT_TRUE(osh::CreatePath(medium + L"\\inner", false));
    try {
        osh::HeldFolderPath held(pinned);
        ADD_FAILURE() << "no exception";
    } catch (const osh::RefusedEntry&) {
        ADD_FAILURE() << "a plain folder is no link";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(Narrow(medium) + "\\inner is no longer the folder that was opened", std::string(error.what()));
    }
    EXPECT_TRUE(outside.Intact());
}

TEST_F(PinnedFolders, AListingTakesTheSystemsWildcards)
{
    for (const wchar_t* name : {L".settings", L".cache", L"db", L"dbx", L"notes.txt"}) WriteText(scratch + L"\\" + name, "x");
    const osh::PinnedFolder folder = osh::PinnedFolder::Open(scratch);
    const auto names = [&](const std::wstring& mask) {
        std::vector<std::wstring> found;
        for (const osh::FolderEntry& entry : folder.List(mask)) found.push_back(entry.name);
        std::sort(found.begin(), found.end());
        return found;
    };
    EXPECT_EQ((std::vector<std::wstring>{L".cache", L".settings"}), names(L".*"));
    EXPECT_EQ(std::vector<std::wstring>{L"db"}, names(L"DB"));
    EXPECT_EQ((std::vector<std::wstring>{L"db", L"dbx"}), names(L"db*"));
    EXPECT_TRUE(names(L"nothing*").empty()) << "no match is an empty listing, not a failure";
    EXPECT_EQ(5u, names(L"*").size());
}

TEST_F(PinnedFolders, RemoveTreeTakesEverythingBelowButNothingALinkLeadsTo)
{
    const std::wstring tree = scratch + L"\\tree";
    ASSERT_TRUE(osh::CreatePath(tree + L"\\a\\b", false));
    WriteText(tree + L"\\a\\b\\deep.txt", "d");
    WriteText(tree + L"\\top.txt", "t");
    ASSERT_TRUE(SetFileAttributesW((tree + L"\\top.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const testsupport::FolderLink link(tree + L"\\a\\to-outside", outside.folder);
    testsupport::LogCapture log;

    const bool removed = osh::PinnedFolder::Open(scratch).RemoveTree(L"tree");

    EXPECT_TRUE(outside.Intact());
    EXPECT_FALSE(osh::IsFile(tree + L"\\top.txt"));
    EXPECT_FALSE(osh::IsDirectory(tree + L"\\a\\b"));
    EXPECT_EQ(testsupport::SystemRemovesLinks(), removed);
    EXPECT_NE(testsupport::SystemRemovesLinks(), link.Present());
    if (!removed) {
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "RemoveLink: '" + Narrow(link.path) +
                                                            "' could not be opened as a link; left in place"));
    }
}

}  // namespace
