#include "app/SafeChannel.h"

#include <Poco/Exception.h>

#include <exception>

namespace app {

SafeChannel::SafeChannel(Poco::Channel::Ptr target) : target_(std::move(target)) {}

SafeChannel::~SafeChannel() = default;

void SafeChannel::open()
{
    try {
        target_->open();
    } catch (const Poco::Exception&) {
        // The next message tries again.
    } catch (const std::exception&) {
    }
}

void SafeChannel::close()
{
    try {
        target_->close();
    } catch (const Poco::Exception&) {
    } catch (const std::exception&) {
    }
}

void SafeChannel::log(const Poco::Message& message)
{
    try {
        target_->log(message);
    } catch (const Poco::Exception&) {
        ++dropped_;
    } catch (const std::exception&) {
        ++dropped_;
    }
}

void SafeChannel::setProperty(const std::string& name, const std::string& value) { target_->setProperty(name, value); }

std::string SafeChannel::getProperty(const std::string& name) const { return target_->getProperty(name); }

}  // namespace app
