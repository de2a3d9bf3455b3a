#pragma once
// Set-up of the process-wide setup log ("setup.log" below the product data directory).
//
// Lines read "2024-05-01 13:45:12.3 HOST[1234]:10828:setup:I:text": local date and time
// with tenths of a second, host name, process id, build revision, logger name, the first
// letter of the priority and the message. The file is archived as "setup.log.0.gz",
// "setup.log.1.gz"... when it reaches one megabyte; archives older than a month or beyond
// the tenth are purged. Writes are queued and written by a thread of the log's own;
// whatever is queued when the process ends is written before it ends. Every process of a
// run writes into the same file: one that waits for another lends it the file meanwhile.
// Lines the file does not take (no directory, full disk, held by a process that does not
// lend it) go to "setup.<pid>.log" beside it or to the work folder; they never hold up
// the program.
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

// Lets another process write the log file while this one waits for it: the lines logged so
// far reach the file first, later ones are held. TakeBackLogFile writes those and goes on.
void LendLogFile();
void TakeBackLogFile();

// The file this process's lines went to instead of the log file; empty when none. Waits
// until the lines logged so far are written, so the answer holds for them.
std::wstring LogFallbackFile();

// Lines no file took.
unsigned long DroppedLogLines();

// The line pattern for a build revision.
std::string SetupLogPattern(int revision);

}  // namespace app
