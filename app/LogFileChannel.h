#pragma once
// The setup log's file end: writes each message to the log file every process of a run
// shares, lends that file to another process of the run while this one waits for it, and
// never drops a line in silence.
//
// A file that another process holds is tried again for a few seconds (the process that
// started this one closes it as soon as it waits). A file that cannot be opened or written
// sends this and every later message of the process to the first fallback file that takes
// it (beside the log, then in the work folder); only a message no file takes is counted as
// dropped. The channel never throws out of log(): the log's writer thread stops for good
// when a channel does, and the asynchronous channel would then wait forever at exit.
#include <Poco/Channel.h>
#include <Poco/Message.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace app {

class LogFileChannel : public Poco::Channel {
public:
    // Makes the channel that writes one file (a path in UTF-8).
    using ChannelMaker = std::function<Poco::Channel::Ptr(const std::string& path)>;
    // Whether the shared file is held open by another process right now.
    using BusyQuestion = std::function<bool(const std::string& path)>;
    // Told once, on the writer thread, when the lines start going to a fallback file.
    using FallbackNotice = std::function<void(const std::string& failedPath, const std::string& fallbackPath)>;

    LogFileChannel(const std::string& path, std::vector<std::string> fallbacks, ChannelMaker maker, BusyQuestion busy,
                   FallbackNotice notice);

    // The source of the message that asks the writer thread to lend the file: queued behind
    // every earlier message, so those reach the file first.
    static const std::string kLendRequest;

    void open() override;
    // Writes what is held and closes the files (the process ends).
    void close() override;
    void log(const Poco::Message& message) override;

    // Announces a lend request the caller is about to queue.
    void ExpectLend();
    // Waits (at most `limit`) until that request has closed the file.
    bool AwaitLent(std::chrono::milliseconds limit);
    // Takes the file back: the messages held meanwhile are written, in order.
    void TakeBack();

    // The fallback file this process's lines went to; empty while the shared file takes them.
    std::string FallbackPath() const;
    // Messages no file took.
    unsigned long Dropped() const { return dropped_.load(); }

    // How long a file another process holds is tried again before a fallback takes over.
    static constexpr std::chrono::milliseconds kBusyWait{5000};

protected:
    ~LogFileChannel() override;

private:
    void Write(const Poco::Message& message);
    bool WriteShared(const Poco::Message& message);
    bool SwitchToFallback(const Poco::Message& message);

    const std::string path_;
    const std::vector<std::string> fallbacks_;
    const ChannelMaker maker_;
    const BusyQuestion busy_;
    const FallbackNotice notice_;

    mutable std::mutex lock_;
    std::condition_variable lentChanged_;
    Poco::Channel::Ptr shared_;
    Poco::Channel::Ptr fallback_;
    std::string fallbackPath_;
    int expectedLends_ = 0;
    bool lent_ = false;
    bool waitedForBusyFile_ = false;  // a held file is waited for once per process
    std::deque<Poco::Message> held_;
    std::atomic<unsigned long> dropped_{0};
};

}  // namespace app
