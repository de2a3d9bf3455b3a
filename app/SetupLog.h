#pragma once
// Set-up of the process-wide setup log ("setup.log" below the product data directory).
namespace Poco {
class LogStream;
}

namespace app {

// Builds the logging chain on first call; later calls change nothing.
void SetUpLog();

// The shared log stream; null until SetUpLog ran.
Poco::LogStream* SharedLogStream();

}  // namespace app
