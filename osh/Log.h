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

// One line each; a text with line breaks becomes several log messages, empty lines left
// out. Wide text is narrowed code unit by code unit. Lines from different threads never
// interleave.
void LogError(const std::string& text);
void LogWarning(const std::string& text);
void LogInformation(const std::string& text);
void LogError(const std::wstring& text);
void LogWarning(const std::wstring& text);
void LogInformation(const std::wstring& text);

}  // namespace osh
