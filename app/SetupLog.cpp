#include "app/SetupLog.h"

#include "app/ErrorWatchChannel.h"
#include "app/LogFolderChoice.h"
#include "app/LogLineFormatter.h"
#include "app/LogFileChannel.h"
#include "config/LayeredConfiguration.h"
#include "engine/ElevatedWorkFolder.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <Poco/AsyncChannel.h>
#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/FileChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace app {

namespace {

std::atomic<Poco::Logger*> g_logger{nullptr};  // Poco keeps it: writers may run until exit
Poco::AutoPtr<Poco::AsyncChannel> g_asyncChannel;
Poco::AutoPtr<LogFileChannel> g_fileChannel;
std::wstring g_chosenLogFile;  // written once, under the set-up lock, before the logger is published

const char kLogFileName[] = "setup.log";
// The longest a process waits for its log's writer thread to let go of the file.
constexpr std::chrono::milliseconds kLendWait{10000};

std::mutex& SetUpLock()
{
    static std::mutex lock;
    return lock;
}

// Registered when the log is set up, so it runs before the static objects above go away:
// waits until the log's thread has written every queued line.
void WriteQueuedLinesAtExit()
{
    if (g_asyncChannel) g_asyncChannel->close();
    // Lines held while the file was lent, should the process end before taking it back.
    if (g_fileChannel) g_fileChannel->close();
}

int BuildRevision() { return Norlo::Config::LayeredConfiguration().getInt("base.version.revision"); }

std::string LogDirectory()
{
    return Norlo::Config::JoinPath(Norlo::Config::LayeredConfiguration().getString("product.data.pathname"), "log");
}

// "<product data directory>\log\setup.log" (UTF-8), with the directory created. An
// elevated run writes there only when the folder passes its checks, else into its own work
// folder (ChooseLogFolder); `warnings` then hold the lines that say why.
std::string PrepareLogFilePath(std::vector<std::string>& warnings)
{
    const std::wstring directory = ChooseLogFolder(warnings);
    if (directory.empty()) throw std::runtime_error(warnings.empty() ? "No log folder" : warnings.back());
    if (ziz::IsElevatedRun() && directory == ziz::ElevatedWorkFolder()) ziz::KeepInWorkFolder(osh::FromUtf8(kLogFileName));
    osh::CreatePath(directory, false);  // a failure surfaces when the file opens
    g_chosenLogFile = osh::AppendBackslash(directory) + osh::FromUtf8(kLogFileName);
    return osh::ToUtf8(g_chosenLogFile);
}

Poco::Channel::Ptr MakeFileChannel(const std::string& path)
{
    Poco::AutoPtr<Poco::FileChannel> channel(new Poco::FileChannel(path));
    channel->setProperty("rotation", "1 M");
    channel->setProperty("archive", "number");
    channel->setProperty("compress", "true");
    channel->setProperty("times", "local");
    channel->setProperty("purgeAge", "1 months");
    channel->setProperty("purgeCount", "10");
    return channel;
}

// Another process of the run (the one that started this one, not yet waiting) holds it.
bool HeldByAnotherProcess(const std::string& path)
{
    osh::ScopedFile probe(CreateFileW(osh::FromUtf8(path).c_str(), FILE_APPEND_DATA,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return !probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION;
}

std::string FolderOf(const std::string& path)
{
    const std::string::size_type slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// Where the lines go when the log file takes none: beside it, then in the work folder (the
// user's temporary folder without elevation), under this process's id.
std::vector<std::string> FallbackFiles(const std::string& logFile)
{
    const std::string own = std::to_string(GetCurrentProcessId());
    std::vector<std::string> files{Norlo::Config::JoinPath(FolderOf(logFile), "setup." + own + ".log")};
    std::wstring work = ziz::ElevatedWorkFolder();
    if (work.empty()) {
        wchar_t temp[MAX_PATH] = {};
        const DWORD length = GetTempPathW(MAX_PATH, temp);
        if (length > 0 && length < MAX_PATH) work = temp;
    }
    if (!work.empty()) files.push_back(osh::ToUtf8(osh::AppendBackslash(work)) + "Norlo-setup." + own + ".log");
    return files;
}

// Said in the fallback file itself; the end of the run names the file again.
void NoteFallback(const std::string& failed, const std::string& fallback)
{
    const std::wstring work = ziz::ElevatedWorkFolder();
    const std::wstring wideFallback = osh::FromUtf8(fallback);
    if (!work.empty() && FolderOf(fallback) == osh::ToUtf8(work))
        ziz::KeepInWorkFolder(wideFallback.substr(osh::AppendBackslash(work).size()));
    Poco::Logger* logger = g_logger.load();
    if (logger == nullptr) return;
    logger->warning("The setup log " + failed + " could not be written; the lines of process " +
                    std::to_string(GetCurrentProcessId()) + " are in " + fallback);
}

Poco::AutoPtr<LogFileChannel> MakeLogFileChannel(std::vector<std::string>& warnings)
{
    const std::string path = PrepareLogFilePath(warnings);
    return new LogFileChannel(path, FallbackFiles(path), MakeFileChannel, HeldByAnotherProcess, NoteFallback);
}

void BuildChain()
{
    Poco::AutoPtr<Poco::Formatter> formatter(new LogLineFormatter(SetupLogPattern(BuildRevision())));
    formatter->setProperty("times", "local");
    Poco::AutoPtr<Poco::FormattingChannel> formatting(new Poco::FormattingChannel(formatter));
    std::vector<std::string> warnings;
    g_fileChannel = MakeLogFileChannel(warnings);
    g_asyncChannel = new Poco::AsyncChannel(g_fileChannel);
    formatting->setChannel(g_asyncChannel);
    formatting->open();
    // get() rather than create(): create() refuses a name that some earlier code already used.
    Poco::Logger& logger = Poco::Logger::get("setup");
    // The failure box and the result name the first error line the log saw.
    Poco::AutoPtr<ErrorWatchChannel> watch(new ErrorWatchChannel(formatting));
    logger.setChannel(watch);
    logger.setLevel(Poco::Message::PRIO_INFORMATION);
    for (const std::string& warning : warnings) logger.warning(warning);
    g_logger.store(&logger);
    osh::SetLogFileLending(LendLogFile, TakeBackLogFile);
}

}  // namespace

void LendLogFile()
{
    if (g_logger.load() == nullptr || !g_fileChannel || !g_asyncChannel) return;
    g_fileChannel->ExpectLend();
    g_asyncChannel->log(Poco::Message(LogFileChannel::kLendRequest, "", Poco::Message::PRIO_INFORMATION));
    g_fileChannel->AwaitLent(kLendWait);
}

void TakeBackLogFile()
{
    if (g_logger.load() != nullptr && g_fileChannel) g_fileChannel->TakeBack();
}

std::wstring LogFallbackFile()
{
    if (g_logger.load() == nullptr || !g_fileChannel) return std::wstring();
    // Whether the file takes the lines is found out when the writer thread gets to them.
    LendLogFile();
    TakeBackLogFile();
    return osh::FromUtf8(g_fileChannel->FallbackPath());
}

unsigned long DroppedLogLines()
{
    return g_logger.load() != nullptr && g_fileChannel ? g_fileChannel->Dropped() : 0;
}

std::string SetupLogPattern(int revision)
{
    return "%Y-%m-%d %H:%M:%S.%c %N[%P]:" + std::to_string(revision) + ":%s:%q:%t";
}

void SetUpLog()
{
    std::lock_guard<std::mutex> guard(SetUpLock());
    if (g_logger.load() != nullptr) return;
    try {
        BuildChain();
        static const bool flushAtExit = (std::atexit(WriteQueuedLinesAtExit), true);
        (void)flushAtExit;
    } catch (const Poco::Exception&) {
        // No log: the program runs on without one.
    } catch (const std::exception&) {
    }
}

Poco::Logger* SharedLogger() { return g_logger.load(); }

std::wstring SetupLogFile()
{
    // Where the log really went: an elevated run may have refused the configured folder.
    if (g_logger.load() != nullptr && !g_chosenLogFile.empty()) return g_chosenLogFile;
    try {
        return osh::FromUtf8(Norlo::Config::JoinPath(LogDirectory(), kLogFileName));
    } catch (const std::exception&) {
        return std::wstring();
    }
}

}  // namespace app
