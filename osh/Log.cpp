#include "osh/Log.h"

#include "osh/Text.h"

#include <Poco/LogStream.h>

#include <atomic>
#include <mutex>

namespace osh {

namespace {

std::atomic<Poco::LogStream*> g_stream{nullptr};

// Both threads write through one LogStream; a line is written whole under this lock.
std::mutex& WriteLock()
{
    static std::mutex lock;
    return lock;
}

enum class Priority { Error, Warning, Information };

void Write(Priority priority, const std::string& text)
{
    Poco::LogStream* stream = g_stream.load();
    if (stream == nullptr) return;
    std::lock_guard<std::mutex> guard(WriteLock());
    switch (priority) {
    case Priority::Error: stream->error(); break;
    case Priority::Warning: stream->warning(); break;
    case Priority::Information: stream->information(); break;
    }
    if (!stream->good()) return;
    *stream << text << '\n';
    stream->flush();
}

}  // namespace

void SetLogStream(Poco::LogStream* stream) { g_stream.store(stream); }

Poco::LogStream* GetLogStream() { return g_stream.load(); }

void LogError(const std::string& text) { Write(Priority::Error, text); }
void LogWarning(const std::string& text) { Write(Priority::Warning, text); }
void LogInformation(const std::string& text) { Write(Priority::Information, text); }
void LogError(const std::wstring& text) { Write(Priority::Error, Narrow(text)); }
void LogWarning(const std::wstring& text) { Write(Priority::Warning, Narrow(text)); }
void LogInformation(const std::wstring& text) { Write(Priority::Information, Narrow(text)); }

}  // namespace osh
