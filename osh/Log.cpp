#include "osh/Log.h"

#include "osh/Text.h"

#include <Poco/Logger.h>
#include <Poco/Message.h>

#include <atomic>
#include <mutex>

namespace osh {

namespace {

std::atomic<Poco::Logger*> g_logger{nullptr};
std::atomic<LogFileAction> g_lend{nullptr};
std::atomic<LogFileAction> g_takeBack{nullptr};

// Both threads write through one logger; a text's lines are written together under this lock.
std::mutex& WriteLock()
{
    static std::mutex lock;
    return lock;
}

// Straight to the logger rather than through a log stream: a C++ stream would bring the
// whole C++ locale into the program.
void Write(Poco::Message::Priority priority, const std::string& text)
{
    Poco::Logger* logger = g_logger.load();
    if (logger == nullptr || !logger->is(priority)) return;
    std::lock_guard<std::mutex> guard(WriteLock());
    std::string::size_type start = 0;
    while (start < text.size()) {
        std::string::size_type end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        if (end > start) {
            logger->log(Poco::Message(logger->name(), text.substr(start, end - start), priority));
        }
        start = end + 1;
    }
}

}  // namespace

void SetLogger(Poco::Logger* logger) { g_logger.store(logger); }

Poco::Logger* GetLogger() { return g_logger.load(); }

void SetLogFileLending(LogFileAction lend, LogFileAction takeBack)
{
    g_lend.store(lend);
    g_takeBack.store(takeBack);
}

LogFileLoan::LogFileLoan()
{
    if (LogFileAction lend = g_lend.load()) lend();
}

LogFileLoan::~LogFileLoan()
{
    if (LogFileAction takeBack = g_takeBack.load()) takeBack();
}

void LogError(const std::string& text) { Write(Poco::Message::PRIO_ERROR, text); }
void LogWarning(const std::string& text) { Write(Poco::Message::PRIO_WARNING, text); }
void LogInformation(const std::string& text) { Write(Poco::Message::PRIO_INFORMATION, text); }
void LogError(const std::wstring& text) { Write(Poco::Message::PRIO_ERROR, Narrow(text)); }
void LogWarning(const std::wstring& text) { Write(Poco::Message::PRIO_WARNING, Narrow(text)); }
void LogInformation(const std::wstring& text) { Write(Poco::Message::PRIO_INFORMATION, Narrow(text)); }

}  // namespace osh
