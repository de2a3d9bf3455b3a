// The hook that runs before every stage, in the real executable under Wine. Missing, the
// run must go on through every stage with a warning each time; failing (the embedded
// script's finishing stage cannot register a namespace extension that is no DLL), the
// install must still complete with one warning that names the stage and the code. Either way the run ends as it would without the hook.
#include "support/BrokenPlatform.h"
#include "support/EndToEnd.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

// Lines the log gained after offset.
std::vector<std::string> LinesAfter(std::streamoff offset)
{
    std::ifstream in(testenv::Narrow(endtoend::SetupLogPath()), std::ios::binary);
    in.seekg(offset);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::streamoff LogSize()
{
    std::ifstream in(testenv::Narrow(endtoend::SetupLogPath()), std::ios::binary | std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

size_t CountEnding(const std::vector<std::string>& lines, const std::string& text)
{
    size_t count = 0;
    for (const auto& line : lines) {
        if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0) ++count;
    }
    return count;
}

TEST(HookMissing, CheckRunGoesOnWithAWarningBeforeEveryStage)
{
    const std::streamoff before = LogSize();
    DWORD exitCode = 0;
    {
        // Without a temporary directory the hook cannot be written out, and the update
        // document has nowhere to go either: the check then fails.
        testsupport::UnusableTempDirectory noTemporaryDirectory;
        // An elevated run (under Wine, every run) works in a folder below the system's one.
        testsupport::UnusableSystemTempFolder noSystemTemporaryFolder;
        ASSERT_TRUE(noSystemTemporaryFolder.Blocked());
        exitCode = endtoend::RunSetup(L"/silent /check", 120000);
    }
    EXPECT_EQ(0xFFFFFFFFu, exitCode);
    const std::vector<std::string> lines = LinesAfter(before);
    // One warning before each of the three stages: the two of a check run and the failure.
    EXPECT_EQ(3u, CountEnding(lines, ":W:Unable to get command script path.")) << lines.size() << " lines";
    EXPECT_EQ(1u, CountEnding(lines, ":E:Could not find temp directory"));
    EXPECT_EQ(1u, CountEnding(lines, ":E:Software process complete, failure detected."));
}

const wchar_t kAutoplayHandlers[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\AutoplayHandlers\\EventHandlers\\"
    L"UnknownContentOnArrival";

// Without these handlers the hook's finishing stage has nothing to disable.
void RemoveAutoplayHandlers()
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAutoplayHandlers, 0, KEY_SET_VALUE | view, &key) != ERROR_SUCCESS)
            continue;
        RegDeleteValueW(key, L"MSSdConfigBackup");
        RegDeleteValueW(key, L"MSSdRunBackup");
        RegCloseKey(key);
    }
}

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::string FileText(const std::wstring& path)
{
    std::ifstream in(testenv::Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The namespace extension the hook registers at the end of an install, as a file that is
// no DLL: registering it fails.
std::wstring BrokenExtension() { return Environment(L"ProgramW6432") + L"\\Norlo 5\\Norlo-Tessel-NSE.dll"; }

class HookFails : public ::testing::Test {
protected:
    void SetUp() override
    {
        endtoend::UninstallWhatRunsLeft();
        RemoveAutoplayHandlers();
        endtoend::LayOutRelease();
        CreateDirectoryW((Environment(L"ProgramW6432") + L"\\Norlo 5").c_str(), nullptr);
        std::ofstream(testenv::Narrow(BrokenExtension()), std::ios::binary) << "not a library";
    }
    void TearDown() override
    {
        DeleteFileW(BrokenExtension().c_str());
        endtoend::UninstallWhatRunsLeft();
        endtoend::CleanRelease();
    }
};

TEST_F(HookFails, InstallCompletesWithOneWarningNamingTheStageAndTheCode)
{
    const std::wstring hookOutput = Environment(L"ProgramData") + L"\\Norlo 5\\log\\.nodelete";
    const std::streamoff before = LogSize();

    EXPECT_EQ(0u, endtoend::RunSetup(L"/install /silent /nocheck"));

    const std::vector<std::string> lines = LinesAfter(before);
    const std::string finishing = ":W:Hook script for state FinishingInstall ended with exit code ";
    size_t hookWarnings = 0;
    size_t finishingWarnings = 0;
    for (const auto& line : lines) {
        hookWarnings += line.find(":W:Hook script for state ") != std::string::npos;
        const size_t at = line.find(finishing);
        if (at == std::string::npos) continue;
        ++finishingWarnings;
        EXPECT_NE("0", line.substr(at + finishing.size())) << line;
    }
    EXPECT_EQ(1u, finishingWarnings);
    EXPECT_EQ(1u, hookWarnings) << "only the finishing stage fails";
    EXPECT_EQ(0u, CountEnding(lines, ":E:Software process complete, failure detected."));
    // The hook did run: its line for the stage is in the output it appends to.
    EXPECT_NE(std::string::npos, FileText(hookOutput).find("Norlo Norlo Tessel INSTALL FINISHINGINSTALL"));
    // And the install it followed is all there.
    std::wstring command;
    EXPECT_TRUE(endtoend::ReadStoreValue(L"uninstall", L"4", command));
    const std::wstring programFolder = Environment(L"ProgramW6432") + L"\\Norlo 5";
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((programFolder + L"\\services-x64.txt").c_str()));
}

}  // namespace
