#pragma once
// Finds the message boxes a test provokes, records what they show and answers them from a
// second thread, the way a user would click a button. Boxes of any process, or of one
// process only, are watched; each box is answered once with the next answer in line.
#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testenv {

struct SeenBox {
    std::wstring caption;
    std::wstring text;
    HWND owner = nullptr;
    bool topmost = false;
    HICON icon = nullptr;
    std::vector<std::wstring> buttons;
};

class MessageBoxWatcher {
public:
    // answers: button ids (IDOK, IDYES, IDNO...) for the first, second... box; boxes beyond
    // the list are answered with IDOK, or IDNO/IDCANCEL when they have no OK button.
    // processId 0 watches this process.
    explicit MessageBoxWatcher(std::vector<int> answers = {}, DWORD processId = 0);
    // The answer to each box is chosen from what it shows and its place in line (0 first).
    using Chooser = std::function<int(const SeenBox& box, size_t index)>;
    MessageBoxWatcher(Chooser chooser, DWORD processId);
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
    ~MessageBoxWatcher();

    // Stops watching (a box already seen is answered first) and returns what was seen.
    std::vector<SeenBox> Stop();
    std::vector<SeenBox> Seen();

    // Waits until at least `count` boxes were seen; false when the time ran out.
    bool WaitForBoxes(size_t count, DWORD timeoutMs);

private:
    void Watch();
    void Answer(HWND box);

    std::vector<int> answers_;
    Chooser chooser_;
    DWORD processId_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SeenBox> seen_;
    std::thread thread_;
};

}  // namespace testenv
