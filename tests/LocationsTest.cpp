// The engine's well-known locations on the real system: directories and file names of
// every kind, the throwing look-ups, the caches, and what the key store remembers.
#include "engine/OSWorker.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"
#include "support/BrokenPlatform.h"
#include "support/LogCapture.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::FailingModuleQuery;
using testsupport::LogCapture;
using testsupport::LogLine;
using testsupport::SavedStoreValue;

// Where this 64-bit prefix keeps its folders; the product name is string 300.
const wchar_t kSetupDir[] = L"C:\\ProgramData\\Norlo 5\\SetupFiles";
const wchar_t kLogDir[] = L"C:\\ProgramData\\Norlo 5\\log";
const wchar_t kInstall32Dir[] = L"C:\\Program Files (x86)\\Norlo 5";
const wchar_t kInstall64Dir[] = L"C:\\Program Files\\Norlo 5";

const ziz::PathKind kInvalidKind = static_cast<ziz::PathKind>(7);

std::string RequirePathMessage(ziz::Worker& worker, ziz::PathKind kind)
{
    try {
        worker.RequirePath(kind);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no exception)";
}

std::string RequireFileNameMessage(ziz::Worker& worker, ziz::PathKind kind)
{
    try {
        worker.RequireFileName(kind);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no exception)";
}

std::wstring StoredSetupValue(const wchar_t* name)
{
    std::wstring value;
    if (!testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Setup", name, value)) return L"(missing)";
    return value;
}

void StoreSetupValue(const wchar_t* name, const std::wstring& value)
{
    testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", name, REG_SZ, value.c_str(),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void RemoveSetupValue(const wchar_t* name)
{
    testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, L"Setup", name);
    testsupport::DeleteStoreValue(HKEY_CURRENT_USER, L"Setup", name);
}

// The directory this test program runs from, as the engine should report it.
std::wstring TestProgramDirectory() { return testenv::BuildDirectory() + L"\\tests\\"; }

TEST(Directories, ProductFoldersOfThisSixtyFourBitSystem)
{
    ziz::OSWorker worker;
    ASSERT_TRUE(worker.Is64BitOs());
    std::wstring path = L"stale";
    ASSERT_TRUE(worker.GetPath(path, ziz::evSetup));
    EXPECT_EQ(kSetupDir, path);
    ASSERT_TRUE(worker.GetPath(path, ziz::evInstall32));
    EXPECT_EQ(kInstall32Dir, path);
    ASSERT_TRUE(worker.GetPath(path, ziz::evInstall64));
    EXPECT_EQ(kInstall64Dir, path);
    ASSERT_TRUE(worker.GetPath(path, ziz::evLog));
    EXPECT_EQ(kLogDir, path);
}

TEST(Directories, InstallationDirectoryFollowsTheSystemsBitness)
{
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetPath(path, ziz::evInstall));
    EXPECT_EQ(kInstall64Dir, path) << "a 64-bit system installs into the 64-bit program files";
}

TEST(Directories, InitialIsTheRunningProgramsDirectory)
{
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetPath(path, ziz::evInitial));
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(TestProgramDirectory(), path)) << osh::Narrow(path);
}

TEST(Directories, FailedModuleQueryIsAnErrorAndIsNotCached)
{
    ziz::OSWorker worker;
    std::wstring path = L"stale";
    {
        FailingModuleQuery failing;
        LogCapture log;
        EXPECT_FALSE(worker.GetPath(path, ziz::evInitial));
        EXPECT_EQ(L"", path);
        const std::vector<LogLine> lines = log.Lines();
        ASSERT_EQ(2u, lines.size());
        EXPECT_EQ(Message::PRIO_ERROR, lines[0].priority);
        EXPECT_EQ("GetModuleFileName() failed.", lines[0].text);
        EXPECT_EQ(Message::PRIO_WARNING, lines[1].priority);
        EXPECT_EQ("Unable to detect path to evInitial", lines[1].text);
    }
    ASSERT_TRUE(worker.GetPath(path, ziz::evInitial)) << "a failure is tried again";
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(TestProgramDirectory(), path));
}

TEST(Directories, ResolvedLocationsAreCachedForTheEnginesLife)
{
    ziz::OSWorker worker;
    std::wstring first;
    ASSERT_TRUE(worker.GetUnprivilegedPath(first, ziz::evInitial));
    FailingModuleQuery failing;
    LogCapture log;
    std::wstring again;
    ASSERT_TRUE(worker.GetUnprivilegedPath(again, ziz::evInitial)) << "answered from the cache";
    EXPECT_EQ(first, again);
    EXPECT_TRUE(log.Lines().empty());
}

TEST(Directories, InvalidKindIsAnErrorThenAWarning)
{
    ziz::OSWorker worker;
    for (int value : {7, 9, -1}) {
        LogCapture log;
        std::wstring path = L"stale";
        EXPECT_FALSE(worker.GetPath(path, static_cast<ziz::PathKind>(value)));
        EXPECT_EQ(L"", path);
        const std::vector<LogLine> lines = log.Lines();
        ASSERT_EQ(2u, lines.size()) << value;
        EXPECT_EQ(Message::PRIO_ERROR, lines[0].priority);
        EXPECT_EQ("Invalid value passed to GetUnprivilegedPath", lines[0].text);
        EXPECT_EQ(Message::PRIO_WARNING, lines[1].priority);
        EXPECT_EQ("Unable to detect path to evInvalid", lines[1].text);
    }
}

TEST(Directories, UnprivilegedLookUpOfAnInvalidKindLogsOnlyTheError)
{
    ziz::OSWorker worker;
    LogCapture log;
    std::wstring path = L"stale";
    EXPECT_FALSE(worker.GetUnprivilegedPath(path, kInvalidKind));
    EXPECT_EQ(L"", path);
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid value passed to GetUnprivilegedPath"));
}

class TempDirectories : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const std::wstring& directory : made_) testenv::RemoveTree(directory);
    }
    void Made(const std::wstring& directory) { made_.push_back(directory); }

    static bool Exists(const std::wstring& directory)
    {
        const DWORD attributes = GetFileAttributesW(directory.c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    std::vector<std::wstring> made_;
};

TEST_F(TempDirectories, ProcessTemporaryDirectoryIsMadeOnce)
{
    ziz::OSWorker worker;
    std::wstring first, second;
    ASSERT_TRUE(worker.GetUnprivilegedPath(first, ziz::evTempDir));
    Made(first);
    ASSERT_TRUE(worker.GetPath(second, ziz::evTempDir));
    EXPECT_EQ(first, second);
    EXPECT_TRUE(Exists(first));
}

TEST_F(TempDirectories, EveryTemporaryDirectoryRequestMakesANewOne)
{
    ziz::OSWorker worker;
    std::wstring first, second;
    ASSERT_TRUE(worker.GetTempDirectory(first));
    Made(first);
    ASSERT_TRUE(worker.GetTempDirectory(second));
    Made(second);
    EXPECT_NE(first, second);
    EXPECT_TRUE(Exists(first));
    EXPECT_TRUE(Exists(second));
}

TEST(FileNames, SetupAndBothInstallationsAreSetupExe)
{
    ziz::OSWorker worker;
    for (ziz::PathKind kind : {ziz::evSetup, ziz::evInstall32, ziz::evInstall64}) {
        std::wstring name;
        ASSERT_TRUE(worker.GetFileName(name, kind)) << kind;
        EXPECT_EQ(L"Setup.exe", name);
        EXPECT_EQ(L"Setup.exe", worker.RequireFileName(kind));
    }
}

TEST(FileNames, InitialIsTheRunningProgramsName)
{
    ziz::OSWorker worker;
    std::wstring name;
    ASSERT_TRUE(worker.GetFileName(name, ziz::evInitial));
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(L"LocationsTest.exe", name)) << osh::Narrow(name);
}

TEST(FileNames, KindsWithoutAFileFailQuietly)
{
    ziz::OSWorker worker;
    for (int value : {2, 5, 6, 7, -1}) {
        LogCapture log;
        std::wstring name = L"stale";
        EXPECT_FALSE(worker.GetFileName(name, static_cast<ziz::PathKind>(value))) << value;
        EXPECT_EQ(L"", name);
        EXPECT_TRUE(log.Lines().empty());
    }
}

TEST(FileNames, InitialNameIsTriedAgainAfterAFailure)
{
    ziz::OSWorker worker;
    std::wstring name = L"stale";
    {
        FailingModuleQuery failing;
        EXPECT_FALSE(worker.GetFileName(name, ziz::evInitial));
        EXPECT_EQ(L"", name);
    }
    ASSERT_TRUE(worker.GetFileName(name, ziz::evInitial));
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(L"LocationsTest.exe", name));
    FailingModuleQuery failing;
    ASSERT_TRUE(worker.GetFileName(name, ziz::evInitial)) << "a success is cached";
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(L"LocationsTest.exe", name));
}

TEST(ThrowingLookUps, FileNameMessagesNameTheKind)
{
    ziz::OSWorker worker;
    EXPECT_EQ("Unable to determine file name for temporary file", RequireFileNameMessage(worker, ziz::evTempDir));
    EXPECT_EQ("Unable to determine file name of program installation", RequireFileNameMessage(worker, ziz::evInstall));
    EXPECT_EQ("Unable to determine file name for log file", RequireFileNameMessage(worker, ziz::evLog));
    EXPECT_EQ("Unable to determine file name  of UNKNOWN type", RequireFileNameMessage(worker, kInvalidKind));
}

TEST(ThrowingLookUps, UnknownDirectoryKindHasTwoSpaces)
{
    ziz::OSWorker worker;
    LogCapture log;
    EXPECT_EQ("Unable to determine directory location  of UNKNOWN type",
              RequirePathMessage(worker, static_cast<ziz::PathKind>(9)));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to detect path to evInvalid"));
}

TEST(ThrowingLookUps, ResolvedDirectoryIsReturned)
{
    ziz::OSWorker worker;
    EXPECT_EQ(kSetupDir, worker.RequirePath(ziz::evSetup));
    EXPECT_EQ(kLogDir, worker.RequirePath(ziz::evLog));
}

// Each test restores the remembered values it touches, in both hives.
class RememberedPaths : public ::testing::Test {
protected:
    SavedStoreValue programData_{L"Setup", L"DirProgramData"};
    SavedStoreValue install32_{L"Setup", L"DirInstall32"};
    SavedStoreValue install64_{L"Setup", L"DirInstall64"};
    SavedStoreValue install_{L"Setup", L"DirInstall"};
    SavedStoreValue lastLaunch_{L"Setup", L"DirLastLaunch"};
};

TEST_F(RememberedPaths, MissingValueIsNotCreated)
{
    RemoveSetupValue(L"DirProgramData");
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetPath(path, ziz::evSetup));
    EXPECT_EQ(L"(missing)", StoredSetupValue(L"DirProgramData"));
}

TEST_F(RememberedPaths, DifferingValueIsRewritten)
{
    StoreSetupValue(L"DirProgramData", L"D:\\Elsewhere\\SetupFiles");
    StoreSetupValue(L"DirInstall32", L"D:\\Old Programs\\Norlo 5");
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetPath(path, ziz::evSetup));
    ASSERT_TRUE(worker.GetPath(path, ziz::evInstall32));
    EXPECT_EQ(kSetupDir, StoredSetupValue(L"DirProgramData"));
    EXPECT_EQ(kInstall32Dir, StoredSetupValue(L"DirInstall32"));
}

TEST_F(RememberedPaths, ValueDifferingOnlyInCaseIsKept)
{
    const std::wstring upper = L"C:\\PROGRAMDATA\\NORLO 5\\SETUPFILES";
    StoreSetupValue(L"DirProgramData", upper);
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetPath(path, ziz::evSetup));
    EXPECT_EQ(upper, StoredSetupValue(L"DirProgramData"));
}

TEST_F(RememberedPaths, LastLaunchFollowsTheRunningProgram)
{
    StoreSetupValue(L"DirLastLaunch", L"E:\\Media\\");
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetPath(path, ziz::evInitial));
    EXPECT_EQ(path, StoredSetupValue(L"DirLastLaunch"));
}

TEST_F(RememberedPaths, UnprivilegedLookUpRemembersNothing)
{
    StoreSetupValue(L"DirInstall64", L"D:\\Old Programs\\Norlo 5");
    ziz::OSWorker worker;
    std::wstring path;
    ASSERT_TRUE(worker.GetUnprivilegedPath(path, ziz::evInstall64));
    EXPECT_EQ(kInstall64Dir, path);
    EXPECT_EQ(L"D:\\Old Programs\\Norlo 5", StoredSetupValue(L"DirInstall64"));
}

TEST_F(RememberedPaths, KindsOutsideTheTableAreNeverStored)
{
    RemoveSetupValue(L"DirProgramData");
    StoreSetupValue(L"DirLastLaunch", L"E:\\Media\\");
    ziz::OSWorker worker;
    worker.RememberPath(L"F:\\Somewhere", ziz::evLog);
    worker.RememberPath(L"F:\\Somewhere", ziz::evTempDir);
    worker.RememberPath(L"F:\\Somewhere", kInvalidKind);
    EXPECT_EQ(L"E:\\Media\\", StoredSetupValue(L"DirLastLaunch"));
    EXPECT_EQ(L"(missing)", StoredSetupValue(L"DirProgramData"));
    worker.RememberPath(L"F:\\Somewhere", ziz::evInitial);
    EXPECT_EQ(L"F:\\Somewhere", StoredSetupValue(L"DirLastLaunch"));
}

}  // namespace
