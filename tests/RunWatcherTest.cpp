// The watcher scripts/run.sh starts the product through: the exit code it hands back,
// the boxes it answers so an unattended run never hangs, its time-out and its refusals.
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring Watcher() { return testenv::BuildDirectory() + L"\\bin\\RunWatcher.exe"; }

std::wstring Cmd()
{
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\cmd.exe";
}

testenv::ProcessResult Watch(const std::wstring& seconds, const std::wstring& rest)
{
    return testenv::Run(L"\"" + Watcher() + L"\" " + seconds + L" " + rest, 120000);
}

TEST(RunWatcher, HandsBackTheProgramsExitCode)
{
    ASSERT_NE(GetFileAttributesW(Watcher().c_str()), INVALID_FILE_ATTRIBUTES) << "build the run_watcher target first";
    const auto result = Watch(L"60", L"\"" + Cmd() + L"\" /c exit 5");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 5u);
}

// msiexec without a valid command shows its usage in a box and waits for OK; a helper
// of the Windows directory that ends with its own code does not replace the program's.
TEST(RunWatcher, AnswersABoxAndKeepsTheCodeOfTheProgramNotOfItsHelper)
{
    const auto result = Watch(L"60", L"\"" + Cmd() + L"\" /c \"msiexec /bogus & exit 6\"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 6u);
}

TEST(RunWatcher, EndsWhatStillRunsWhenTheTimeRunsOut)
{
    const auto result = Watch(L"2", L"\"" + Cmd() + L"\" /c \"ping -n 60 127.0.0.1 >nul\"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 98u);
}

TEST(RunWatcher, RefusesAProgramThatCannotStartAndAMissingProgram)
{
    auto result = Watch(L"10", L"\"C:\\no such folder\\Setup.exe\"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 97u);
    result = Watch(L"10", L"");
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 97u);
}

}  // namespace
