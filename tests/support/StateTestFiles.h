#pragma once
// Files and processes the state tests set up: copies of the stand-in program, what those
// copies recorded, small text files and the engine's notifications.
#include <windows.h>

#include "support/TestWorker.h"

#include <string>
#include <vector>

namespace statetest {

// The stand-in program of this build (tests\WindowedStandInHelper.exe).
std::wstring StandInProgram();

// Copies the stand-in to path (creating folders) and removes a record of an earlier copy.
void PlaceStandIn(const std::wstring& path);

// The lines the stand-in at path recorded ("<path>.log"); none when it never ran.
std::vector<std::string> RecordedLines(const std::wstring& path);

// Makes the stand-in at path end with this exit code.
void SetStandInExitCode(const std::wstring& path, int code);

// Writes a small file, creating its folders.
void WriteTextFile(const std::wstring& path, const std::string& text);

bool Exists(const std::wstring& path);

// Creates a folder and its parents.
void MakeFolders(const std::wstring& path);

// "\"" + text + "\"".
std::wstring Quoted(const std::wstring& text);

struct Notification {
    ziz::EngineStatus status;
    int a;
    int b;
};

// A test engine that also keeps every notification in order.
class RecordingWorker : public testsupport::TestWorker {
public:
    std::vector<Notification> notifications;
    void Notify(ziz::EngineStatus status, int a = 0, int b = 0) override
    {
        notifications.push_back({status, a, b});
        Worker::Notify(status, a, b);
    }
};

// A running stand-in with a window; ended on destruction if it is still running.
class WindowedStandIn {
public:
    // Starts the copy at path with "--window <title>" (or "--hung <title>", a window that
    // stops answering once it exists) and waits until its window exists.
    WindowedStandIn(const std::wstring& path, const std::wstring& title, bool hung = false);
    ~WindowedStandIn();
    WindowedStandIn(const WindowedStandIn&) = delete;
    WindowedStandIn& operator=(const WindowedStandIn&) = delete;

    bool Ready() const { return ready_; }
    // True when the process ended within the time.
    bool WaitForExit(DWORD timeoutMs);

private:
    PROCESS_INFORMATION info_{};
    bool ready_ = false;
};

}  // namespace statetest
