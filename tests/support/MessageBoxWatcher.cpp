#include "support/MessageBoxWatcher.h"

namespace testenv {

namespace {

std::wstring ClassOf(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring TextOf(HWND window)
{
    const int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
    return text;
}

struct Search {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM context)
{
    auto search = reinterpret_cast<Search*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId && IsWindowVisible(window) && ClassOf(window) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM context)
{
    auto box = reinterpret_cast<SeenBox*>(context);
    const std::wstring kind = ClassOf(child);
    if (kind == L"Button") {
        box->buttons.push_back(TextOf(child));
    } else if (kind == L"Static") {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            box->icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        } else if (box->text.empty()) {
            box->text = TextOf(child);
        }
    }
    return TRUE;
}

SeenBox Describe(HWND box)
{
    SeenBox seen;
    seen.caption = TextOf(box);
    seen.owner = GetWindow(box, GW_OWNER);
    seen.topmost = (GetWindowLongW(box, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    EnumChildWindows(box, CollectChild, reinterpret_cast<LPARAM>(&seen));
    return seen;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(std::vector<int> answers, DWORD processId)
    : answers_(std::move(answers)), processId_(processId ? processId : GetCurrentProcessId())
{
    thread_ = std::thread([this] { Watch(); });
}

MessageBoxWatcher::MessageBoxWatcher(Chooser chooser, DWORD processId)
    : chooser_(std::move(chooser)), processId_(processId ? processId : GetCurrentProcessId())
{
    thread_ = std::thread([this] { Watch(); });
}

MessageBoxWatcher::~MessageBoxWatcher()
{
    Stop();
}

std::vector<SeenBox> MessageBoxWatcher::Stop()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return Seen();
}

std::vector<SeenBox> MessageBoxWatcher::Seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

bool MessageBoxWatcher::WaitForBoxes(size_t count, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        if (Seen().size() >= count) return true;
        Sleep(20);
    }
    return Seen().size() >= count;
}

void MessageBoxWatcher::Watch()
{
    while (!stop_) {
        Search search{processId_, nullptr};
        EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            Answer(search.found);
        } else {
            Sleep(20);
        }
    }
}

void MessageBoxWatcher::Answer(HWND box)
{
    // Give the box a moment to finish its initialisation before reading it.
    Sleep(100);
    SeenBox seen = Describe(box);
    size_t index = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = seen_.size();
        seen_.push_back(seen);
    }
    int answer = index < answers_.size() ? answers_[index] : IDOK;
    if (index >= answers_.size() && GetDlgItem(box, IDOK) == nullptr) {
        answer = GetDlgItem(box, IDNO) != nullptr ? IDNO : IDCANCEL;
    }
    if (chooser_) answer = chooser_(seen, index);
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
    for (int i = 0; i < 250 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(20);
}

}  // namespace testenv
