#pragma once
// How the run's web sessions reach the network, chosen once at the start (an administrator's
// policy may choose) and used by every session opened afterwards. Free of Windows headers.
#include <string>

namespace osh {

enum class ProxyKind { System, Direct, Fixed, Pac };

struct ProxySetting {
    ProxyKind kind = ProxyKind::System;  // the system's Internet settings
    std::wstring server;                 // Fixed: "host:port"
    std::wstring pacUrl;                 // Pac: the auto-config script's address
};

void SetProxySetting(const ProxySetting& setting);
ProxySetting GetProxySetting();

}  // namespace osh
