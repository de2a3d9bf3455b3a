#include "app/SetupLog.h"

#include "app/ErrorWatchChannel.h"
#include "app/LogFolderChoice.h"
#include "app/LogLineFormatter.h"
#include "app/SafeChannel.h"
#include "config/LayeredConfiguration.h"
#include "engine/ElevatedWorkFolder.h"
#include "osh/FileSystem.h"
#include "osh/Text.h"

#include <Poco/AsyncChannel.h>
#include <Poco/AutoPtr.h>
#include <Poco/Exception.h>
#include <Poco/FileChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <atomic>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace app {

namespace {

std::atomic<Poco::Logger*> g_logger{nullptr};  // Poco keeps it: writers may run until exit
Poco::AutoPtr<Poco::AsyncChannel> g_asyncChannel;
std::wstring g_chosenLogFile;  // written once, under the set-up lock, before the logger is published

const char kLogFileName[] = "setup.log";

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

Poco::AutoPtr<Poco::FileChannel> MakeFileChannel(std::vector<std::string>& warnings)
{
    Poco::AutoPtr<Poco::FileChannel> channel(new Poco::FileChannel(PrepareLogFilePath(warnings)));
    channel->setProperty("rotation", "1 M");
    channel->setProperty("archive", "number");
    channel->setProperty("compress", "true");
    channel->setProperty("times", "local");
    channel->setProperty("purgeAge", "1 months");
    channel->setProperty("purgeCount", "10");
    return channel;
}

void BuildChain()
{
    Poco::AutoPtr<Poco::Formatter> formatter(new LogLineFormatter(SetupLogPattern(BuildRevision())));
    formatter->setProperty("times", "local");
    Poco::AutoPtr<Poco::FormattingChannel> formatting(new Poco::FormattingChannel(formatter));
    std::vector<std::string> warnings;
    Poco::AutoPtr<Poco::FileChannel> file = MakeFileChannel(warnings);
    // A file that cannot be written must cost lines, never the writer thread.
    Poco::AutoPtr<SafeChannel> safeFile(new SafeChannel(file));
    g_asyncChannel = new Poco::AsyncChannel(safeFile);
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
}

}  // namespace

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
