#pragma once
// The one way every part of the program writes a line to the setup log.
//
// The log itself (file, rotation, line format) is set up by the application; it hands
// its stream to this library with SetLogStream before any worker runs. Until then, and
// whenever the stream is not in a good state, lines are skipped silently.
#include <string>

namespace Poco {
class LogStream;
}

namespace osh {

void SetLogStream(Poco::LogStream* stream);
Poco::LogStream* GetLogStream();

// One line each; a text with line feeds becomes several log messages. Wide text is
// narrowed code unit by code unit. Lines from different threads never interleave.
void LogError(const std::string& text);
void LogWarning(const std::string& text);
void LogInformation(const std::string& text);
void LogError(const std::wstring& text);
void LogWarning(const std::wstring& text);
void LogInformation(const std::wstring& text);

}  // namespace osh
