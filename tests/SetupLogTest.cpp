// The setup log: line format, rotation into numbered compressed archives, two writers,
// and the lines queued when the process ends.
#include "app/LogLineFormatter.h"
#include "app/LogFileChannel.h"
#include "app/SetupLog.h"
#include "osh/Log.h"

#include "support/TestEnvironment.h"
#include "support/VendorConfigFile.h"

#include <Poco/AsyncChannel.h>
#include <Poco/Bugcheck.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Environment.h>
#include <Poco/Exception.h>
#include <Poco/FormattingChannel.h>
#include <Poco/InflatingStream.h>
#include <Poco/LogFile.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>
#include <Poco/RotateStrategy.h>
#include <Poco/Thread.h>
#include <Poco/Timespan.h>
#include <Poco/Timestamp.h>

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// date, time with tenths, host, [pid], revision, logger, priority letter, message
const std::regex kLine(
    R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d) ([^\s\[\]]+)\[(\d+)\]:10828:setup:([A-Z]):(.*)$)");

constexpr DWORD kWaitMs = 60000;

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kWaitMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

// Like WaitFor, but for the log's own thread working through a long queue: gives up only
// when the condition is false and the log directory has stopped changing for a while.
bool WaitWhileLogGrows(const std::wstring& directory, const std::function<bool()>& condition)
{
    auto footprint = [&] {
        ULONGLONG total = 0;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return total;
        do {
            total += (ULONGLONG(found.nFileSizeHigh) << 32) + found.nFileSizeLow + found.ftLastWriteTime.dwLowDateTime;
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return total;
    };
    ULONGLONG last = footprint();
    DWORD lastChange = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - lastChange > kWaitMs) return false;
        Sleep(100);
        ULONGLONG now = footprint();
        if (now != last) {
            last = now;
            lastChange = GetTickCount();
        }
    }
    return true;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string Gunzip(const std::string& bytes)
{
    std::istringstream compressed(bytes);
    Poco::InflatingInputStream inflater(compressed, Poco::InflatingStreamBuf::STREAM_GZIP);
    return std::string((std::istreambuf_iterator<char>(inflater)), std::istreambuf_iterator<char>());
}

// Message text of the lines whose message starts with the prefix, in file order.
std::vector<std::string> MessagesStartingWith(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : SplitLines(text)) {
        std::smatch match;
        if (std::regex_match(line, match, kLine) && match[11].str().rfind(prefix, 0) == 0) found.push_back(line);
    }
    return found;
}

std::string ComputerName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

std::string Unique(const char* what) { return std::string(what) + "-" + std::to_string(GetTickCount()); }

// The log of this test process: set up once, with the product data directory moved to a
// scratch directory through the override file for the moment of the set-up.
struct ProcessLog {
    std::wstring scratch;
    std::wstring dataDirectory;
    std::wstring logDirectory;
    std::wstring file;
    bool directoryExistedBefore = true;
    Poco::Logger* logger = nullptr;

    std::string Contents() const { return testenv::ReadFileBytes(file); }

    bool Contains(const std::string& text) const { return Contents().find(text) != std::string::npos; }

    std::wstring Archive(int number, bool compressed) const
    {
        return file + L"." + std::to_wstring(number) + (compressed ? L".gz" : L"");
    }

    // Archives oldest first, then the current file; uncompressed archives are read as they are.
    std::string AllText() const
    {
        std::vector<std::string> parts;
        for (int number = 0; number < 20; ++number) {
            if (Exists(Archive(number, true))) {
                parts.push_back(Gunzip(testenv::ReadFileBytes(Archive(number, true))));
            } else if (Exists(Archive(number, false))) {
                parts.push_back(testenv::ReadFileBytes(Archive(number, false)));
            }
        }
        std::string text;
        for (auto it = parts.rbegin(); it != parts.rend(); ++it) text += *it;
        return text + Contents();
    }

    // "name size" of every file in the log directory, for failure messages.
    std::string Listing() const
    {
        std::string listing;
        WIN32_FIND_DATAW found;
        HANDLE find = FindFirstFileW((logDirectory + L"\\*").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return "(no directory)";
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
            listing += testenv::Narrow(found.cFileName) + " " + std::to_string(found.nFileSizeLow) + "\n";
        } while (FindNextFileW(find, &found));
        FindClose(find);
        return listing;
    }

    // True once the archive thread has compressed every archive.
    bool ArchivesCompressed() const
    {
        for (int number = 0; number < 20; ++number) {
            if (Exists(Archive(number, false))) return false;
        }
        return true;
    }
};

ProcessLog MakeProcessLog()
{
    ProcessLog log;
    log.scratch = testenv::MakeScratchDirectory(L"norlo-log");
    log.dataDirectory = log.scratch + L"\\data";
    log.logDirectory = log.dataDirectory + L"\\log";
    log.file = log.logDirectory + L"\\setup.log";
    log.directoryExistedBefore = Exists(log.logDirectory);
    {
        testenv::VendorConfigFile override(testenv::DataPathLine(log.dataDirectory));
        app::SetUpLog();
    }
    log.logger = app::SharedLogger();
    osh::SetLogger(log.logger);
    return log;
}

const ProcessLog& TheLog()
{
    static const ProcessLog log = MakeProcessLog();
    return log;
}

// Closes the file at the end of the run so the scratch directory can go.
class ProcessLogCleanup : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (app::SharedLogger() == nullptr) return;
        osh::SetLogger(nullptr);
        Poco::Channel::Ptr formatting = Poco::Logger::get("setup").getChannel();
        auto* formattingChannel = dynamic_cast<Poco::FormattingChannel*>(formatting.get());
        if (formattingChannel == nullptr) return;
        formattingChannel->close();  // writes what is queued
        auto* async = dynamic_cast<Poco::AsyncChannel*>(formattingChannel->getChannel().get());
        if (async != nullptr && async->getChannel()) async->getChannel()->close();
        WaitFor([] { return TheLog().ArchivesCompressed(); }, 30000);
        testenv::RemoveTree(TheLog().scratch);
    }
};

const auto* const kCleanup = ::testing::AddGlobalTestEnvironment(new ProcessLogCleanup);

// ---------------------------------------------------------------------------------------

TEST(SetupLogSetUp, CreatesTheLogDirectoryBelowTheDataDirectory)
{
    const ProcessLog& log = TheLog();
    ASSERT_NE(nullptr, log.logger);
    EXPECT_FALSE(log.directoryExistedBefore);
    EXPECT_TRUE(Exists(log.logDirectory));
    std::string marker = Unique("first use");
    osh::LogInformation(marker);
    EXPECT_TRUE(WaitFor([&] { return log.Contains(marker); })) << testenv::Narrow(log.file);
}

TEST(SetupLogSetUp, ASecondSetUpChangesNothing)
{
    const ProcessLog& log = TheLog();
    ASSERT_NE(nullptr, log.logger);
    std::wstring other = testenv::MakeScratchDirectory(L"norlo-log-other");
    {
        testenv::VendorConfigFile override(testenv::DataPathLine(other));
        app::SetUpLog();
    }
    EXPECT_EQ(log.logger, app::SharedLogger());
    std::string marker = Unique("after the second set-up");
    osh::LogInformation(marker);
    EXPECT_TRUE(WaitFor([&] { return log.Contains(marker); }));
    EXPECT_FALSE(Exists(other + L"\\log"));
    testenv::RemoveTree(other);
}

TEST(SetupLogLines, ALineReadsDateTimeHostPidRevisionLoggerPriorityMessage)
{
    const ProcessLog& log = TheLog();
    std::string marker = Unique("line shape");
    SYSTEMTIME before;
    GetLocalTime(&before);
    osh::LogInformation(marker);
    ASSERT_TRUE(WaitFor([&] { return log.Contains(marker); }));

    std::vector<std::string> lines = MessagesStartingWith(log.Contents(), marker);
    ASSERT_EQ(1u, lines.size()) << log.Contents();
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, kLine));
    EXPECT_EQ(marker, match[11].str());
    EXPECT_EQ("I", match[10].str());
    EXPECT_EQ(std::to_string(GetCurrentProcessId()), match[9].str());
    EXPECT_EQ(0, _stricmp(ComputerName().c_str(), match[8].str().c_str())) << match[8].str();
    // Local time, not UTC: the stamp is within a minute of the local clock.
    SYSTEMTIME stamp{};
    stamp.wYear = WORD(std::stoi(match[1].str()));
    stamp.wMonth = WORD(std::stoi(match[2].str()));
    stamp.wDay = WORD(std::stoi(match[3].str()));
    stamp.wHour = WORD(std::stoi(match[4].str()));
    stamp.wMinute = WORD(std::stoi(match[5].str()));
    stamp.wSecond = WORD(std::stoi(match[6].str()));
    FILETIME stampTime, beforeTime;
    ASSERT_TRUE(SystemTimeToFileTime(&stamp, &stampTime));
    ASSERT_TRUE(SystemTimeToFileTime(&before, &beforeTime));
    auto ticks = [](const FILETIME& t) { return (LONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    EXPECT_LT(std::llabs(ticks(stampTime) - ticks(beforeTime)), 60LL * 10000000LL);
}

TEST(SetupLogLines, EachPriorityWritesItsLetter)
{
    const ProcessLog& log = TheLog();
    std::string marker = Unique("priority");
    osh::LogError(marker + " error");
    osh::LogWarning(marker + " warning");
    osh::LogInformation(std::wstring(L"wide ") + testenv::Widen(marker) + L" information");
    osh::LogInformation(marker + " done");
    ASSERT_TRUE(WaitFor([&] { return log.Contains(marker + " done"); }));
    std::string text = log.Contents();
    std::vector<std::string> lines = MessagesStartingWith(text, marker);
    ASSERT_EQ(3u, lines.size()) << text;
    EXPECT_NE(std::string::npos, lines[0].find(":setup:E:" + marker + " error"));
    EXPECT_NE(std::string::npos, lines[1].find(":setup:W:" + marker + " warning"));
    EXPECT_NE(std::string::npos, lines[2].find(":setup:I:" + marker + " done"));
    EXPECT_NE(std::string::npos, text.find(":setup:I:wide " + marker + " information"));
}

TEST(SetupLogLines, ALineFeedMakesTwoMessagesAndEmptyLinesNone)
{
    const ProcessLog& log = TheLog();
    std::string marker = Unique("split");
    osh::LogWarning(marker + " first half\r\n\n" + marker + " second half\n");
    ASSERT_TRUE(WaitFor([&] { return log.Contains(marker + " second half"); }));
    std::vector<std::string> lines = MessagesStartingWith(log.Contents(), marker);
    ASSERT_EQ(2u, lines.size()) << log.Contents();
    EXPECT_NE(std::string::npos, lines[0].find(":setup:W:" + marker + " first half"));
    EXPECT_NE(std::string::npos, lines[1].find(":setup:W:" + marker + " second half"));
}

TEST(SetupLogLines, DebugMessagesAreNotWritten)
{
    const ProcessLog& log = TheLog();
    std::string marker = Unique("level");
    log.logger->debug(marker + " debug");
    osh::LogInformation(marker + " information");
    ASSERT_TRUE(WaitFor([&] { return log.Contains(marker + " information"); }));
    EXPECT_FALSE(log.Contains(marker + " debug"));
}

TEST(SetupLogFormatter, APatternIsCutInFrontOfEachBracketAfterAPlaceholder)
{
    using app::SplitBeforeLiteralBrackets;
    using Pieces = std::vector<std::string>;
    EXPECT_EQ((Pieces{"%Y-%m-%d %N", "[%P]:10828:%s:%q:%t"}),
              SplitBeforeLiteralBrackets("%Y-%m-%d %N[%P]:10828:%s:%q:%t"));
    EXPECT_EQ((Pieces{"%s", "[a]%t", "[b]"}), SplitBeforeLiteralBrackets("%s[a]%t[b]"));
    EXPECT_EQ((Pieces{"[lead] %s text"}), SplitBeforeLiteralBrackets("[lead] %s text"));
    EXPECT_EQ((Pieces{"%[name] %t"}), SplitBeforeLiteralBrackets("%[name] %t"));
    // Poco takes any character after '%' as a placeholder, a blank included.
    EXPECT_EQ((Pieces{"100% ", "[x]"}), SplitBeforeLiteralBrackets("100% [x]"));
    EXPECT_EQ((Pieces{"%t%"}), SplitBeforeLiteralBrackets("%t%"));
    EXPECT_EQ((Pieces{""}), SplitBeforeLiteralBrackets(""));
}

TEST(SetupLogFormatter, TheComputerNameIsPutIntoThePatternOnce)
{
    using app::WithNodeName;
    EXPECT_EQ("%Y VM[%P]:%t", WithNodeName("%Y %N[%P]:%t", "VM"));
    EXPECT_EQ("a-a", WithNodeName("%N-%N", "a"));
    EXPECT_EQ("A%%B:%t", WithNodeName("%N:%t", "A%B"));  // the name's '%' stays text
    EXPECT_EQ("%%N %n", WithNodeName("%%N %n", "VM"));   // a literal "%N", another placeholder
    EXPECT_EQ("x%", WithNodeName("x%", "VM"));
    EXPECT_EQ("", WithNodeName("%N", ""));
}

TEST(SetupLogFormatter, TheProcessIdSurvivesBetweenBrackets)
{
    Poco::AutoPtr<app::LogLineFormatter> formatter(new app::LogLineFormatter("%N[%P]:%s:%q:%t"));
    formatter->setProperty("times", "local");
    Poco::Message message("setup", "hello", Poco::Message::PRIO_ERROR);
    std::string text;
    formatter->format(message, text);
    std::string tail = "[" + std::to_string(GetCurrentProcessId()) + "]:setup:E:hello";
    ASSERT_GT(text.size(), tail.size()) << text;
    EXPECT_EQ(tail, text.substr(text.size() - tail.size())) << text;
    EXPECT_EQ(0, _stricmp(ComputerName().c_str(), text.substr(0, text.size() - tail.size()).c_str())) << text;
}

// ---------------------------------------------------------------------------------------
// Rotation and concurrent writers

constexpr size_t kRotationSize = 1024 * 1024;

TEST(SetupLogRotation, AtOneMegabyteTheFileIsArchivedCompressedAndANewOneStarts)
{
    const ProcessLog& log = TheLog();
    ASSERT_NE(nullptr, log.logger);
    const std::string marker = Unique("rotation");
    const std::string padding(150, 'x');
    // Enough lines to pass one megabyte whatever the file already held.
    const int count = int((kRotationSize + kRotationSize / 4) / padding.size());
    for (int n = 0; n < count; ++n) osh::LogInformation(marker + " " + std::to_string(n) + " " + padding);
    const std::string last = marker + " " + std::to_string(count - 1) + " ";
    ASSERT_TRUE(WaitWhileLogGrows(log.logDirectory, [&] { return log.Contains(last); }));
    ASSERT_TRUE(WaitWhileLogGrows(log.logDirectory, [&] { return Exists(log.Archive(0, true)) && log.ArchivesCompressed(); })) << log.Listing();

    EXPECT_LT(log.Contents().size(), kRotationSize);
    std::string archived = Gunzip(testenv::ReadFileBytes(log.Archive(0, true)));
    EXPECT_GE(archived.size(), kRotationSize);
    EXPECT_LT(archived.size(), kRotationSize + 400);  // rotated at the first line past the limit
    EXPECT_FALSE(MessagesStartingWith(archived, marker).empty());
    // Nothing lost or repeated across the archive and the new file.
    std::vector<std::string> lines = MessagesStartingWith(log.AllText(), marker + " ");
    ASSERT_EQ(size_t(count), lines.size());
    for (int n = 0; n < count; ++n) {
        EXPECT_NE(std::string::npos, lines[n].find(":I:" + marker + " " + std::to_string(n) + " ")) << n;
    }
}

TEST(SetupLogThreads, TwoThreadsLoseAndInterleaveNoLineAcrossRotations)
{
    const ProcessLog& log = TheLog();
    ASSERT_NE(nullptr, log.logger);
    const std::string marker = Unique("threads");
    constexpr int kLines = 20000;
    auto writer = [&](int thread) {
        for (int n = 0; n < kLines; ++n) {
            osh::LogInformation(marker + " thread " + std::to_string(thread) + " line " + std::to_string(n) +
                                " ----------------------------------------");
        }
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
    const std::string lastOfEach[] = {marker + " thread 0 line " + std::to_string(kLines - 1) + " ",
                                      marker + " thread 1 line " + std::to_string(kLines - 1) + " "};
    // One thread may finish well before the other, its last line then already archived.
    ASSERT_TRUE(WaitWhileLogGrows(log.logDirectory, [&] {
        if (!log.ArchivesCompressed()) return false;
        std::string text;
        try {
            text = log.AllText();
        } catch (const Poco::Exception&) {
            return false;  // an archive still being compressed
        }
        return text.find(lastOfEach[0]) != std::string::npos && text.find(lastOfEach[1]) != std::string::npos;
    })) << log.Listing();
    ASSERT_TRUE(Exists(log.Archive(1, true))) << "expected several rotations";

    std::string all = log.AllText();
    int next[2] = {0, 0};
    size_t seen = 0;
    const std::regex body("^" + marker + " thread ([01]) line (\\d+) -{40}$");
    for (const std::string& line : SplitLines(all)) {
        if (line.find(marker) == std::string::npos) continue;
        ++seen;
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, kLine)) << "damaged line: " << line;
        const std::string message = match[11].str();
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(message, parts, body)) << "damaged message: " << message;
        int thread = std::stoi(parts[1].str());
        ASSERT_EQ(next[thread], std::stoi(parts[2].str())) << "thread " << thread << " out of order or a line lost";
        ++next[thread];
    }
    EXPECT_EQ(size_t(2 * kLines), seen);
    EXPECT_EQ(kLines, next[0]);
    EXPECT_EQ(kLines, next[1]);
}

// Records what it is given, or throws when told to (always, or for the next few messages).
class RecordingChannel : public Poco::Channel {
public:
    bool fail = false;
    int failNext = 0;
    int closes = 0;
    std::vector<std::string> texts;
    void log(const Poco::Message& message) override
    {
        if (fail || failNext > 0) {
            --failNext;
            throw Poco::CreateFileException("no such directory");
        }
        texts.push_back(message.getText());
    }
    void close() override { ++closes; }
};

Poco::Message Line(const std::string& text) { return Poco::Message("setup", text, Poco::Message::PRIO_INFORMATION); }

// A file channel over recording channels: "shared" and the fallbacks "beside" and "work".
struct ChannelUnderTest {
    Poco::AutoPtr<RecordingChannel> shared{new RecordingChannel};
    Poco::AutoPtr<RecordingChannel> beside{new RecordingChannel};
    Poco::AutoPtr<RecordingChannel> work{new RecordingChannel};
    bool busy = false;
    int busyQuestions = 0;
    std::vector<std::string> notices;
    Poco::AutoPtr<app::LogFileChannel> channel{new app::LogFileChannel(
        "shared", {"beside", "work"},
        [this](const std::string& path) -> Poco::Channel::Ptr {
            if (path == "shared") return shared;
            if (path == "beside") return beside;
            return work;
        },
        [this](const std::string&) {
            ++busyQuestions;
            return busy;
        },
        [this](const std::string& failed, const std::string& fallback) { notices.push_back(failed + " -> " + fallback); })};
};

TEST(SetupLogFileChannel, ALentFileIsClosedAndTheLinesMeanwhileFollowInOrderWhenTakenBack)
{
    ChannelUnderTest test;
    test.channel->log(Line("before"));
    test.channel->ExpectLend();
    test.channel->log(Poco::Message(app::LogFileChannel::kLendRequest, "", Poco::Message::PRIO_INFORMATION));
    EXPECT_TRUE(test.channel->AwaitLent(std::chrono::milliseconds(0)));
    EXPECT_EQ(1, test.shared->closes) << "another process can open the file only when this one closed it";
    test.channel->log(Line("during 1"));
    test.channel->log(Line("during 2"));
    EXPECT_EQ((std::vector<std::string>{"before"}), test.shared->texts);
    test.channel->TakeBack();
    test.channel->log(Line("after"));
    EXPECT_EQ((std::vector<std::string>{"before", "during 1", "during 2", "after"}), test.shared->texts);
    EXPECT_TRUE(test.beside->texts.empty());

    // A request that comes after its caller stopped waiting and took the file back is ignored.
    test.channel->ExpectLend();
    EXPECT_FALSE(test.channel->AwaitLent(std::chrono::milliseconds(0)));
    test.channel->TakeBack();
    test.channel->log(Poco::Message(app::LogFileChannel::kLendRequest, "", Poco::Message::PRIO_INFORMATION));
    test.channel->log(Line("still written"));
    EXPECT_EQ("still written", test.shared->texts.back());

    // The end of the process writes what is held.
    test.channel->ExpectLend();
    test.channel->log(Poco::Message(app::LogFileChannel::kLendRequest, "", Poco::Message::PRIO_INFORMATION));
    test.channel->log(Line("held at exit"));
    test.channel->close();
    EXPECT_EQ("held at exit", test.shared->texts.back());
    EXPECT_EQ(0u, test.channel->Dropped());
}

TEST(SetupLogFileChannel, AFileThatTakesNoLinesSendsThemToTheFirstFallbackThatDoesAndSaysSoOnce)
{
    ChannelUnderTest test;
    test.channel->log(Line("one"));
    test.shared->fail = true;
    test.beside->fail = true;
    EXPECT_NO_THROW(test.channel->log(Line("two")));
    test.channel->log(Line("three"));
    EXPECT_EQ((std::vector<std::string>{"one"}), test.shared->texts);
    EXPECT_EQ((std::vector<std::string>{"two", "three"}), test.work->texts);
    EXPECT_EQ((std::vector<std::string>{"shared -> work"}), test.notices);
    EXPECT_EQ("work", test.channel->FallbackPath());
    EXPECT_EQ(0u, test.channel->Dropped());
    EXPECT_EQ(1, test.busyQuestions) << "a file nobody holds is not waited for";

    // Only a line no file takes is lost, and it is counted.
    test.work->fail = true;
    test.channel->log(Line("four"));
    EXPECT_EQ(1u, test.channel->Dropped());
}

TEST(SetupLogFileChannel, AFileAnotherProcessHoldsIsWaitedForOnce)
{
    ChannelUnderTest test;
    test.busy = true;
    test.shared->failNext = 3;
    test.channel->log(Line("waited"));
    EXPECT_EQ((std::vector<std::string>{"waited"}), test.shared->texts);
    EXPECT_TRUE(test.notices.empty());
    EXPECT_EQ(3, test.busyQuestions);

    // A holder that never lets go: after the wait the lines go beside the file, and the
    // process does not wait again for every later line.
    test.shared->fail = true;
    const auto start = std::chrono::steady_clock::now();
    test.channel->log(Line("given up"));
    test.channel->log(Line("next"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3 * app::LogFileChannel::kBusyWait / 2);
    EXPECT_EQ((std::vector<std::string>{"given up", "next"}), test.beside->texts);
    EXPECT_EQ((std::vector<std::string>{"shared -> beside"}), test.notices);
}

// ---------------------------------------------------------------------------------------
// The Poco code the log reaches, built without C++ streams: what it reads and writes

// Writes the file in one go; CR LF line ends, as a Windows editor leaves them.
void WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
    CloseHandle(file);
}

// Whether a daily rotation is due for a log whose first line dates its last rotation.
bool DailyRotationDue(const std::wstring& path, const Poco::Timestamp& lastRotation)
{
    std::string tag = "# Log file created/rotated ";
    Poco::DateTimeFormatter::append(tag, lastRotation, Poco::DateTimeFormat::RFC1036_FORMAT);
    WriteWholeFile(path, tag + "\r\nsome line\r\n");
    Poco::LogFile file(testenv::Narrow(path));
    Poco::RotateByIntervalStrategy daily(Poco::Timespan(1, 0, 0, 0, 0));
    return daily.mustRotate(&file);
}

TEST(SetupLogPoco, AnIntervalRotationReadsItsDateFromTheFirstLine)
{
    const std::wstring scratch = testenv::MakeScratchDirectory(L"norlo-log-interval");
    const std::wstring path = scratch + L"\\interval.log";
    Poco::Timestamp twoDaysAgo;
    twoDaysAgo -= Poco::Timespan(2, 0, 0, 0, 0);
    // The file itself was made just now: only its first line says it is two days old.
    EXPECT_TRUE(DailyRotationDue(path, twoDaysAgo));
    EXPECT_FALSE(DailyRotationDue(path, Poco::Timestamp()));
    testenv::RemoveTree(scratch);
}

TEST(SetupLogPoco, ThreadNamesAndAssertionTextsReadAsBefore)
{
    Poco::Thread thread;
    EXPECT_EQ("#" + std::to_string(thread.id()), thread.getName());
    try {
        Poco::Bugcheck::nullPointer("channel", "Logger.cpp", 42);
        ADD_FAILURE() << "no exception";
    } catch (const Poco::NullPointerException& error) {
        EXPECT_EQ("Null pointer: channel in file \"Logger.cpp\", line 42", error.displayText());
    }
    EXPECT_TRUE(std::regex_match(Poco::Environment::osVersion(), std::regex(R"(\d+\.\d+ \(Build \d+(: .+)?\))")))
        << Poco::Environment::osVersion();
}

// ---------------------------------------------------------------------------------------
// Child processes: a fresh set-up each, and what is left in the file once they are gone

std::wstring HelperPath() { return testenv::BuildDirectory() + L"\\tests\\SetupLogHelper.exe"; }

testenv::ProcessResult RunHelper(int lines, int threads, const std::string& tag)
{
    return testenv::Run(L"\"" + HelperPath() + L"\" " + std::to_wstring(lines) + L" " + std::to_wstring(threads) +
                        L" " + testenv::Widen(tag));
}

class SetupLogChild : public ::testing::Test {
protected:
    void SetUp() override { scratch_ = testenv::MakeScratchDirectory(L"norlo-log-child"); }
    void TearDown() override { testenv::RemoveTree(scratch_); }

    // Runs the helper with the product data directory moved to the given directory.
    testenv::ProcessResult RunWithDataDirectory(const std::wstring& dataDirectory, int lines, int threads,
                                                const std::string& tag)
    {
        testenv::VendorConfigFile override(testenv::DataPathLine(dataDirectory));
        return RunHelper(lines, threads, tag);
    }

    std::wstring scratch_;
};

TEST_F(SetupLogChild, LinesQueuedAtExitReachTheFile)
{
    const std::wstring data = scratch_ + L"\\data";
    const std::string tag = Unique("exit");
    constexpr int kLines = 3000;
    testenv::ProcessResult result = RunWithDataDirectory(data, kLines, 1, tag);
    ASSERT_TRUE(result.finished);
    ASSERT_EQ(0u, result.exitCode);
    std::string text = testenv::ReadFileBytes(data + L"\\log\\setup.log");
    std::vector<std::string> lines = MessagesStartingWith(text, tag + " ");
    ASSERT_EQ(size_t(kLines), lines.size());
    EXPECT_NE(std::string::npos, lines.back().find(":I:" + tag + " thread 0 line " + std::to_string(kLines - 1)));
}

TEST_F(SetupLogChild, EveryRunAppendsWithItsOwnProcessId)
{
    const std::wstring data = scratch_ + L"\\data";
    const std::string tag = Unique("append");
    ASSERT_EQ(0u, RunWithDataDirectory(data, 1, 1, tag + "-a").exitCode);
    ASSERT_EQ(0u, RunWithDataDirectory(data, 1, 1, tag + "-b").exitCode);
    std::string text = testenv::ReadFileBytes(data + L"\\log\\setup.log");
    std::vector<std::string> first = MessagesStartingWith(text, tag + "-a ");
    std::vector<std::string> second = MessagesStartingWith(text, tag + "-b ");
    ASSERT_EQ(1u, first.size()) << text;
    ASSERT_EQ(1u, second.size()) << text;
    EXPECT_LT(text.find(first[0]), text.find(second[0]));
    std::smatch a, b;
    ASSERT_TRUE(std::regex_match(first[0], a, kLine));
    ASSERT_TRUE(std::regex_match(second[0], b, kLine));
    EXPECT_NE(std::to_string(GetCurrentProcessId()), a[9].str());
    EXPECT_NE(a[9].str(), b[9].str());
}

TEST_F(SetupLogChild, ANonAsciiDataDirectoryHoldsTheLog)
{
    const std::wstring data = scratch_ + L"\\Daten-\u00fc\u00df";
    const std::string tag = Unique("utf8");
    ASSERT_EQ(0u, RunWithDataDirectory(data, 1, 1, tag).exitCode);
    EXPECT_TRUE(Exists(data + L"\\log"));
    std::string text = testenv::ReadFileBytes(data + L"\\log\\setup.log");
    EXPECT_EQ(1u, MessagesStartingWith(text, tag + " ").size()) << text;
    // No second directory under a mangled name.
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((scratch_ + L"\\*").c_str(), &found);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    int entries = 0;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0) ++entries;
    } while (FindNextFileW(find, &found));
    FindClose(find);
    EXPECT_EQ(1, entries);
}

TEST_F(SetupLogChild, AnUnusableLogDirectoryNeitherStopsNorHangsTheProgram)
{
    // A regular file where the data directory should be: neither the directory nor the
    // log file can be made below it.
    const std::wstring blocker = scratch_ + L"\\blocker";
    HANDLE file = CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    testenv::ProcessResult result = RunWithDataDirectory(blocker + L"\\data", 500, 2, Unique("nowhere"));
    ASSERT_TRUE(result.started);
    EXPECT_TRUE(result.finished) << "the program did not end";
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_FALSE(Exists(blocker + L"\\data"));
}

}  // namespace
