#pragma once
// The one way every part of the program writes a line to the setup log.
//
// The log itself (file, rotation, line format) is set up by the application; it hands
// its logger to this library with SetLogger before any worker runs. Until then lines are
// skipped silently.
#include <string>

namespace Poco {
class Logger;
}

namespace osh {

void SetLogger(Poco::Logger* logger);
Poco::Logger* GetLogger();

// How the application lends its log file to another process of the run and takes it back.
using LogFileAction = void (*)();
void SetLogFileLending(LogFileAction lend, LogFileAction takeBack);

// For the life of the object another process of the run may write the log file: the lines
// logged before reach it first, those logged meanwhile follow when the object goes.
class LogFileLoan {
public:
    LogFileLoan();
    ~LogFileLoan();
    LogFileLoan(const LogFileLoan&) = delete;
    LogFileLoan& operator=(const LogFileLoan&) = delete;
};

// One line each; a text with line breaks becomes several log messages, empty lines left
// out. Wide text is written as UTF-8. Lines from different threads never
// interleave.
void LogError(const std::string& text);
void LogWarning(const std::string& text);
void LogInformation(const std::string& text);
void LogError(const std::wstring& text);
void LogWarning(const std::wstring& text);
void LogInformation(const std::wstring& text);

}  // namespace osh
