#include "osh/ProxySetting.h"

namespace osh {

namespace {

// Set on the main thread before the engine thread starts; only read afterwards.
ProxySetting& Current()
{
    static ProxySetting setting;
    return setting;
}

}  // namespace

void SetProxySetting(const ProxySetting& setting) { Current() = setting; }

ProxySetting GetProxySetting() { return Current(); }

}  // namespace osh
