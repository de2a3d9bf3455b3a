#pragma once
// Records every line written through osh::Log* while an object of this class lives.
// Construction installs a logger of its own; destruction puts the previous one back.
#include <Poco/Message.h>

#include <mutex>
#include <string>
#include <vector>

namespace Poco {
class Logger;
}

namespace testsupport {

struct LogLine {
    Poco::Message::Priority priority;
    std::string text;
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> Lines() const;
    // True when a line with exactly this text and priority was written.
    bool Contains(Poco::Message::Priority priority, const std::string& text) const;
    // Index of the first line with this text, or -1.
    int IndexOf(const std::string& text) const;
    void Clear();

    // Called by the channel.
    void Record(const Poco::Message& message);

private:
    mutable std::mutex lock_;
    std::vector<LogLine> lines_;
    Poco::Logger* logger_;
    Poco::Logger* previous_;
};

}  // namespace testsupport
