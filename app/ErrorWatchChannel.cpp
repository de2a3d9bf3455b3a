#include "app/ErrorWatchChannel.h"

#include "app/RunSummary.h"

#include <Poco/Message.h>

namespace app {

ErrorWatchChannel::ErrorWatchChannel(Poco::Channel::Ptr target) : target_(std::move(target)) {}

ErrorWatchChannel::~ErrorWatchChannel() = default;

void ErrorWatchChannel::open() { target_->open(); }

void ErrorWatchChannel::close() { target_->close(); }

void ErrorWatchChannel::log(const Poco::Message& message)
{
    // Lower numbers are more severe.
    if (message.getPriority() <= Poco::Message::PRIO_ERROR) NoteLoggedError(message.getText());
    target_->log(message);
}

}  // namespace app
