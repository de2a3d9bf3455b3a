#pragma once
// One layer of the vendor configuration: plain key/value pairs.
#include "config/AbstractConfiguration.h"

#include <Poco/AutoPtr.h>
#include <Poco/Util/MapConfiguration.h>

namespace Norlo {
namespace Config {

class MapConfiguration : public Poco::Util::MapConfiguration, public AbstractConfiguration {
public:
    using Ptr = Poco::AutoPtr<MapConfiguration>;

    MapConfiguration() = default;

protected:
    // Reference-counted: released through Poco::AutoPtr only.
    ~MapConfiguration() override;
};

}  // namespace Config
}  // namespace Norlo
