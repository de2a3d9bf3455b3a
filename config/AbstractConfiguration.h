#pragma once
// Mix-in of the vendor configuration classes: one lock that lives as long as the object.
#include <windows.h>

namespace Norlo {
namespace Config {

class AbstractConfiguration {
public:
    AbstractConfiguration();
    virtual ~AbstractConfiguration();

    AbstractConfiguration(const AbstractConfiguration&) = delete;
    AbstractConfiguration& operator=(const AbstractConfiguration&) = delete;

protected:
    // Reserved for callers that share one configuration between threads.
    CRITICAL_SECTION& Lock() { return lock_; }

private:
    CRITICAL_SECTION lock_;
};

}  // namespace Config
}  // namespace Norlo
