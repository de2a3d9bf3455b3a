#pragma once
// A channel that hands every message to another channel and drops the ones that channel
// fails to take.
//
// The log's writer thread stops for good when a channel throws out of log(), and the queue
// it leaves behind never empties: the asynchronous channel would then wait forever when the
// process ends. A file channel throws on every line when its directory cannot be made or the
// disk is full, so it is put behind this one.
#include <Poco/Channel.h>

#include <atomic>
#include <string>

namespace app {

class SafeChannel : public Poco::Channel {
public:
    explicit SafeChannel(Poco::Channel::Ptr target);

    void open() override;
    void close() override;
    void log(const Poco::Message& message) override;
    void setProperty(const std::string& name, const std::string& value) override;
    std::string getProperty(const std::string& name) const override;

    Poco::Channel::Ptr Target() const { return target_; }
    // Messages dropped so far.
    unsigned long Dropped() const { return dropped_.load(); }

protected:
    ~SafeChannel() override;

private:
    Poco::Channel::Ptr target_;
    std::atomic<unsigned long> dropped_{0};
};

}  // namespace app
