#include "app/LogFileChannel.h"

#include <Poco/Exception.h>
#include <Poco/Thread.h>

#include <exception>
#include <utility>

namespace app {

namespace {

constexpr long kBusyRetryMs = 50;

void CloseQuietly(Poco::Channel::Ptr channel)
{
    if (!channel) return;
    try {
        channel->close();
    } catch (const Poco::Exception&) {
    } catch (const std::exception&) {
    }
}

bool TryLog(Poco::Channel::Ptr channel, const Poco::Message& message)
{
    try {
        channel->log(message);
        return true;
    } catch (const Poco::Exception&) {
    } catch (const std::exception&) {
    }
    return false;
}

}  // namespace

const std::string LogFileChannel::kLendRequest = "norlo.lend-log-file";

LogFileChannel::LogFileChannel(const std::string& path, std::vector<std::string> fallbacks, ChannelMaker maker,
                               BusyQuestion busy, FallbackNotice notice)
    : path_(path), fallbacks_(std::move(fallbacks)), maker_(std::move(maker)), busy_(std::move(busy)),
      notice_(std::move(notice))
{
    try {
        shared_ = maker_(path_);
    } catch (const Poco::Exception&) {
        // Every message then goes to a fallback.
    } catch (const std::exception&) {
    }
}

LogFileChannel::~LogFileChannel() = default;

void LogFileChannel::open() {}

void LogFileChannel::close()
{
    std::lock_guard<std::mutex> guard(lock_);
    lent_ = false;
    expectedLends_ = 0;
    while (!held_.empty()) {
        Write(held_.front());
        held_.pop_front();
    }
    CloseQuietly(shared_);
    CloseQuietly(fallback_);
}

void LogFileChannel::log(const Poco::Message& message)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (message.getSource() == kLendRequest) {
        // A request the caller stopped waiting for (and took back) is no longer wanted.
        if (expectedLends_ == 0) return;
        --expectedLends_;
        CloseQuietly(shared_);
        lent_ = true;
        lentChanged_.notify_all();
        return;
    }
    if (lent_) {
        held_.push_back(message);
        return;
    }
    Write(message);
}

void LogFileChannel::ExpectLend()
{
    std::lock_guard<std::mutex> guard(lock_);
    ++expectedLends_;
}

bool LogFileChannel::AwaitLent(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(lock_);
    return lentChanged_.wait_for(guard, limit, [this] { return lent_; });
}

void LogFileChannel::TakeBack()
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!lent_) {
        if (expectedLends_ > 0) --expectedLends_;
        return;
    }
    lent_ = false;
    while (!held_.empty()) {
        Write(held_.front());
        held_.pop_front();
    }
}

std::string LogFileChannel::FallbackPath() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return fallbackPath_;
}

void LogFileChannel::Write(const Poco::Message& message)
{
    if (fallback_) {
        if (!TryLog(fallback_, message)) ++dropped_;
        return;
    }
    if (WriteShared(message) || SwitchToFallback(message)) return;
    ++dropped_;
}

bool LogFileChannel::WriteShared(const Poco::Message& message)
{
    if (!shared_) return false;
    long waitedMs = 0;
    for (;;) {
        if (TryLog(shared_, message)) return true;
        // Only a file another process of the run still holds is worth waiting for: the
        // process that started this one lets go of it as soon as it waits.
        if (waitedForBusyFile_ || !busy_ || !busy_(path_)) break;
        if (waitedMs >= kBusyWait.count()) {
            waitedForBusyFile_ = true;
            break;
        }
        Poco::Thread::sleep(kBusyRetryMs);
        waitedMs += kBusyRetryMs;
    }
    CloseQuietly(shared_);
    return false;
}

bool LogFileChannel::SwitchToFallback(const Poco::Message& message)
{
    for (const std::string& candidate : fallbacks_) {
        Poco::Channel::Ptr channel;
        try {
            channel = maker_(candidate);
        } catch (const Poco::Exception&) {
            continue;
        } catch (const std::exception&) {
            continue;
        }
        if (!TryLog(channel, message)) {
            CloseQuietly(channel);
            continue;
        }
        fallback_ = channel;
        fallbackPath_ = candidate;
        if (notice_) notice_(path_, candidate);
        return true;
    }
    return false;
}

}  // namespace app
