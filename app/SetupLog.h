#pragma once
// Set-up of the process-wide setup log ("setup.log" below the product data directory).
//
// Lines read "2024-05-01 13:45:12.3 HOST[1234]:10828:setup:I:text": local date and time
// with tenths of a second, host name, process id, build revision, logger name, the first
// letter of the priority and the message. The file is archived as "setup.log.0.gz",
// "setup.log.1.gz"... when it reaches one megabyte; archives older than a month or beyond
// the tenth are purged. Writes are queued and written by a thread of the log's own;
// whatever is queued when the process ends is written before it ends. Lines that cannot be
// written (no directory, full disk) are dropped; they never hold up the program.
#include <string>

namespace Poco {
class Logger;
}

namespace app {

// Builds the logging chain on first call; later calls change nothing. Never throws: when the
// chain cannot be built the shared logger stays null and nothing is logged.
void SetUpLog();

// The shared logger ("setup"); null until SetUpLog ran.
Poco::Logger* SharedLogger();

// Where the log is written ("...\log\setup.log"); empty when the configuration cannot say.
std::wstring SetupLogFile();

// The line pattern for a build revision.
std::string SetupLogPattern(int revision);

}  // namespace app
