#include "support/LogCapture.h"

#include "osh/Log.h"

#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>
#include <Poco/Logger.h>

#include <atomic>

namespace testsupport {

namespace {

class RecordingChannel : public Poco::Channel {
public:
    explicit RecordingChannel(LogCapture& capture) : capture_(capture) {}
    void log(const Poco::Message& message) override { capture_.Record(message); }

private:
    LogCapture& capture_;
};

// Each capture has a logger of its own, so one capture never sees another's channel.
std::string NextLoggerName()
{
    static std::atomic<int> counter{0};
    return "test.capture." + std::to_string(++counter);
}

}  // namespace

LogCapture::LogCapture() : logger_(&Poco::Logger::get(NextLoggerName())), previous_(osh::GetLogger())
{
    logger_->setChannel(Poco::AutoPtr<Poco::Channel>(new RecordingChannel(*this)));
    logger_->setLevel(Poco::Message::PRIO_TRACE);
    osh::SetLogger(logger_);
}

LogCapture::~LogCapture()
{
    osh::SetLogger(previous_);
    // The logger outlives this object; cut it loose from the channel that points here.
    logger_->setChannel(Poco::Channel::Ptr());
}

std::vector<LogLine> LogCapture::Lines() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return lines_;
}

bool LogCapture::Contains(Poco::Message::Priority priority, const std::string& text) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const LogLine& line : lines_) {
        if (line.priority == priority && line.text == text) return true;
    }
    return false;
}

int LogCapture::IndexOf(const std::string& text) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].text == text) return static_cast<int>(i);
    }
    return -1;
}

void LogCapture::Clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    lines_.clear();
}

void LogCapture::Record(const Poco::Message& message)
{
    std::lock_guard<std::mutex> guard(lock_);
    lines_.push_back({message.getPriority(), message.getText()});
}

}  // namespace testsupport
