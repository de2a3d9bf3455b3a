#pragma once
// A channel in front of the setup log's chain that keeps the text of the first error line
// (error priority or worse) for the failure box and the result, then passes every message on.
#include <Poco/Channel.h>

namespace app {

class ErrorWatchChannel : public Poco::Channel {
public:
    explicit ErrorWatchChannel(Poco::Channel::Ptr target);

    void open() override;
    void close() override;
    void log(const Poco::Message& message) override;

protected:
    ~ErrorWatchChannel() override;

private:
    Poco::Channel::Ptr target_;
};

}  // namespace app
