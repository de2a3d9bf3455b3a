// The hook script run before every state: its command line, where its output goes, when
// that output is appended or started afresh, and that a broken hook never stops a state.
#include "engine/ElevatedWorkFolder.h"
#include "engine/HookScript.h"
#include "engine/OSWorker.h"
#include "engine/RunLoop.h"
#include "engine/WorkerState.h"
#include "osh/FileSystem.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"
#include "support/BrokenPlatform.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::LogCapture;
using testsupport::LogLine;

const wchar_t kInstallDir[] = L"C:\\Program Files\\Norlo 5";
const wchar_t kRealLogDir[] = L"C:\\ProgramData\\Norlo 5\\log";

std::string ReadBytes(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> LinesOf(const std::wstring& path)
{
    std::vector<std::string> lines;
    std::istringstream in(ReadBytes(path));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Moves a file's times by whole days from now (negative: into the past).
void SetTimes(const std::wstring& path, int creationDays, int accessDays, int writeDays)
{
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    auto shifted = [&now](int days) {
        ULARGE_INTEGER value;
        value.LowPart = now.dwLowDateTime;
        value.HighPart = now.dwHighDateTime;
        value.QuadPart += static_cast<LONGLONG>(days) * 24 * 60 * 60 * 10000000LL;
        FILETIME time;
        time.dwLowDateTime = value.LowPart;
        time.dwHighDateTime = value.HighPart;
        return time;
    };
    const FILETIME creation = shifted(creationDays);
    const FILETIME access = shifted(accessDays);
    const FILETIME write = shifted(writeDays);
    osh::ScopedFile file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file.valid());
    ASSERT_TRUE(SetFileTime(file.get(), &creation, &access, &write));
}

// The real engine, except that its log directory is a scratch directory of the test
// (empty: the log directory cannot be determined).
class ScratchLogWorker : public ziz::OSWorker {
public:
    std::wstring logDirectory;
    std::wstring installDirectory;  // empty: the real one

    bool GetPath(std::wstring& path, ziz::PathKind kind) override
    {
        if (kind == ziz::evInstall && !installDirectory.empty()) {
            path = installDirectory;
            return true;
        }
        if (kind != ziz::evLog) return OSWorker::GetPath(path, kind);
        path = logDirectory;
        return !path.empty();
    }
};

// A state that records, when it runs, how many lines the hook output holds.
class CountingState : public ziz::WorkerState {
public:
    CountingState(const wchar_t* name, const std::wstring& outputFile, ziz::WorkerState* next)
        : WorkerState(name), outputFile_(outputFile), next_(next)
    {
    }
    ziz::WorkerState* Exec(ziz::Worker&) override
    {
        seenLines.push_back(Exists(outputFile_) ? static_cast<int>(LinesOf(outputFile_).size()) : -1);
        return next_;
    }

    std::vector<int> seenLines;

private:
    std::wstring outputFile_;
    ziz::WorkerState* next_;
};

// Creates a directory for the test when it is missing, and removes it again if empty.
class DirectoryIfMissing {
public:
    explicit DirectoryIfMissing(const std::wstring& path) : path_(path), created_(!Exists(path))
    {
        if (created_) osh::CreatePath(path, false);
    }
    ~DirectoryIfMissing()
    {
        if (created_) RemoveDirectoryW(path_.c_str());
    }

private:
    std::wstring path_;
    bool created_;
};

class HookRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"hook");
        logDir_ = scratch_ + L"\\log";
        scriptDir_ = scratch_ + L"\\hook dir with blank";
        ASSERT_TRUE(CreateDirectoryW(logDir_.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(scriptDir_.c_str(), nullptr));
        output_ = logDir_ + L"\\.nodelete";
        argsScript_ = scriptDir_ + L"\\args.cmd";
        WriteBytes(argsScript_, "@echo [%1][%2][%3][%CD%]\r\n");
        worker_.SetMode(ziz::INSTALL);
        worker_.logDirectory = logDir_;
        worker_.SetSetupScriptPath(argsScript_);
    }
    void TearDown() override { testenv::RemoveTree(scratch_); }

    void Run(ziz::WorkerState& first)
    {
        osh::ScopedHandle shutdown(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(shutdown.valid());
        ziz::RunStatesFrom(&first, worker_, shutdown.get());
    }

    // The hook of an elevated run (under Wine, every run) works in the run's own folder.
    static std::string ArgsLine(const std::string& state)
    {
        return "[INSTALL][" + state + "][\"C:\\Program Files\\Norlo 5\\\"][" + osh::Narrow(ziz::ElevatedWorkFolder()) +
               "]";
    }

    DirectoryIfMissing installDir_{kInstallDir};
    std::wstring scratch_, logDir_, scriptDir_, output_, argsScript_;
    ScratchLogWorker worker_;
};

TEST_F(HookRun, RunsBeforeEachStateWithModeStateAndInstallationDirectory)
{
    CountingState second(L"Second", output_, nullptr);
    CountingState first(L"First", output_, &second);
    Run(first);
    EXPECT_EQ(std::vector<int>{1}, first.seenLines);
    EXPECT_EQ(std::vector<int>{2}, second.seenLines);
    EXPECT_EQ((std::vector<std::string>{ArgsLine("First"), ArgsLine("Second")}), LinesOf(output_));
}

TEST_F(HookRun, OutputOfTheSameUtcDayIsAppended)
{
    WriteBytes(output_, "earlier today\r\n");
    SetTimes(output_, -3, -3, 0);
    CountingState only(L"Only", output_, nullptr);
    Run(only);
    EXPECT_EQ((std::vector<std::string>{"earlier today", ArgsLine("Only")}), LinesOf(output_));
}

TEST_F(HookRun, OutputOfAnEarlierDayIsReplaced)
{
    WriteBytes(output_, "two days ago\r\n");
    SetTimes(output_, 0, 0, -2);
    CountingState only(L"Only", output_, nullptr);
    Run(only);
    EXPECT_EQ(std::vector<std::string>{ArgsLine("Only")}, LinesOf(output_));
}

TEST_F(HookRun, RealScriptRunsFromADirectoryWithABlank)
{
    std::wstring extracted;
    {
        ziz::OSWorker other;
        extracted = other.GetSetupScriptPath();
    }
    ASSERT_FALSE(extracted.empty());
    const std::wstring copy = scriptDir_ + L"\\setup.cmd";
    ASSERT_TRUE(CopyFileW(extracted.c_str(), copy.c_str(), FALSE));
    testenv::RemoveTree(extracted.substr(0, extracted.find_last_of(L'\\')));
    worker_.SetSetupScriptPath(copy);
    CountingState initializing(L"Initializing", output_, nullptr);
    Run(initializing);
    EXPECT_EQ(std::vector<std::string>{"Norlo Norlo Tessel INSTALL INITIALIZING"}, LinesOf(output_));
}

TEST_F(HookRun, ScriptWhosePathStartsLikeAnotherScriptRunsItself)
{
    // Unquoted, "...\hook.cmd copy\args.cmd" would start the script "...\hook.cmd".
    WriteBytes(scratch_ + L"\\hook.cmd", "@echo the wrong script\r\n");
    const std::wstring directory = scratch_ + L"\\hook.cmd copy";
    ASSERT_TRUE(CreateDirectoryW(directory.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(argsScript_.c_str(), (directory + L"\\args.cmd").c_str(), FALSE));
    worker_.SetSetupScriptPath(directory + L"\\args.cmd");
    CountingState only(L"Only", output_, nullptr);
    Run(only);
    EXPECT_EQ(std::vector<std::string>{ArgsLine("Only")}, LinesOf(output_));
}

// The command processor starts and cannot find the script: a warning with its exit code,
// and the state runs all the same.
TEST_F(HookRun, HookWhoseScriptIsMissingIsAWarningAndTheStateRuns)
{
    worker_.SetSetupScriptPath(scriptDir_ + L"\\missing.cmd");
    CountingState only(L"Only", output_, nullptr);
    LogCapture log;
    Run(only);
    EXPECT_EQ(std::vector<int>{0}, only.seenLines);
    const std::vector<LogLine> lines = log.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(Message::PRIO_WARNING, lines[0].priority);
    EXPECT_EQ(0u, lines[0].text.rfind("Hook script for state Only ended with exit code ", 0)) << lines[0].text;
    EXPECT_NE("Hook script for state Only ended with exit code 0", lines[0].text);
}

TEST_F(HookRun, MissingInstallationDirectoryRunsTheHookFromTheSystemFolder)
{
    // A first install: the installation directory is only made by the packages. The hook
    // runs elevated, so not from the user-writable temporary directory either. (An elevated
    // run has its own work folder; this is the run that has none.)
    testsupport::NotElevated notElevated;
    worker_.installDirectory = scratch_ + L"\\not installed yet";
    wchar_t system[MAX_PATH];
    const UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(systemLength, 0u);
    const std::wstring systemFolder(system, systemLength);
    CountingState only(L"Only", output_, nullptr);
    LogCapture log;
    Run(only);
    EXPECT_EQ(std::vector<int>{1}, only.seenLines);
    EXPECT_EQ(std::vector<std::string>{"[INSTALL][Only][\"" + osh::Narrow(worker_.installDirectory) + "\\\"][" +
                                       osh::Narrow(systemFolder) + "]"},
              LinesOf(output_));
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
}

TEST_F(HookRun, UnknownLogDirectorySkipsTheHook)
{
    WriteBytes(argsScript_, "@echo ran> \"%~dp0ran.txt\"\r\n");
    worker_.logDirectory.clear();
    CountingState only(L"Only", output_, nullptr);
    LogCapture log;
    Run(only);
    EXPECT_EQ(std::vector<int>{-1}, only.seenLines);
    EXPECT_FALSE(Exists(scriptDir_ + L"\\ran.txt"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(HookRun, MissingScriptSkipsTheHook)
{
    worker_.SetSetupScriptPath(L"");
    CountingState only(L"Only", output_, nullptr);
    {
        // The script cannot be extracted when no temporary directory can be made.
        testsupport::UnusableTempDirectory unusable;
        LogCapture log;
        Run(only);
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to get command script path."));
    }
    EXPECT_EQ(std::vector<int>{-1}, only.seenLines);
    EXPECT_FALSE(Exists(output_));
}

TEST(HookRealLocations, OutputLandsInTheProductsLogDirectory)
{
    DirectoryIfMissing data(L"C:\\ProgramData\\Norlo 5");
    DirectoryIfMissing log(kRealLogDir);
    DirectoryIfMissing install(kInstallDir);
    const std::wstring output = std::wstring(kRealLogDir) + L"\\.nodelete";
    const bool hadOutput = Exists(output);
    const std::string savedOutput = ReadBytes(output);

    const std::wstring scratch = testenv::MakeScratchDirectory(L"hookreal");
    const std::wstring script = scratch + L"\\token.cmd";
    WriteBytes(script, "@echo token-5c1e [%2]\r\n");
    std::vector<std::string> lines;
    {
        ziz::OSWorker worker;
        worker.SetMode(ziz::UNINSTALL);
        worker.SetSetupScriptPath(script);
        CountingState only(L"RealLocations", output, nullptr);
        osh::ScopedHandle shutdown(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ziz::RunStatesFrom(&only, worker, shutdown.get());
        lines = LinesOf(output);
    }
    if (hadOutput) {
        WriteBytes(output, savedOutput);
    } else {
        DeleteFileW(output.c_str());
    }
    testenv::RemoveTree(scratch);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("token-5c1e [RealLocations]", lines.back());
}

TEST(HookCommand, ScriptInstallationDirectoryAndOutputAreQuoted)
{
    EXPECT_EQ(L"\"C:\\Users\\A B\\Temp\\x\\setup.cmd\" UNINSTALL PurgingFiles \"C:\\Program Files\\Norlo 5\\\" >> "
              L"\"C:\\ProgramData\\Norlo 5\\log\\.nodelete\"",
              ziz::HookCommandLine(L"C:\\Users\\A B\\Temp\\x\\setup.cmd", L"UNINSTALL", L"PurgingFiles",
                                   L"C:\\Program Files\\Norlo 5", L">>", L"C:\\ProgramData\\Norlo 5\\log\\.nodelete"));
    EXPECT_EQ(L"\"s.cmd\" INSTALL Failed \"D:\\\" > \"o\"",
              ziz::HookCommandLine(L"s.cmd", L"INSTALL", L"Failed", L"D:\\", L">", L"o"))
        << "a directory that ends in a backslash gets no second one";
}

TEST(HookCommand, OutputFileIsInTheLogDirectory)
{
    EXPECT_EQ(L"C:\\Log\\.nodelete", ziz::HookOutputFile(L"C:\\Log"));
    EXPECT_EQ(L"C:\\Log\\.nodelete", ziz::HookOutputFile(L"C:\\Log\\"));
}

class Redirection : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"redirect");
        file_ = scratch_ + L"\\.nodelete";
    }
    void TearDown() override { testenv::RemoveTree(scratch_); }

    std::wstring scratch_, file_;
};

TEST_F(Redirection, FollowsTheUtcDateOfTheLastWrite)
{
    EXPECT_EQ(L">", ziz::HookRedirection(file_)) << "missing file";
    WriteBytes(file_, "x");
    EXPECT_EQ(L">>", ziz::HookRedirection(file_)) << "written now";
    SetTimes(file_, 0, 0, -1);
    EXPECT_EQ(L">", ziz::HookRedirection(file_)) << "written a day ago";
    SetTimes(file_, 0, 0, 1);
    EXPECT_EQ(L">", ziz::HookRedirection(file_)) << "a date in the future is not today";
    SetTimes(file_, -5, -5, 0);
    EXPECT_EQ(L">>", ziz::HookRedirection(file_)) << "the write time decides, not the others";
}

}  // namespace
