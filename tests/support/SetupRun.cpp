#include "support/SetupRun.h"

#include "support/TestEnvironment.h"

#include <algorithm>
#include <cwctype>

namespace endtoend {

namespace {

std::wstring Lower(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return static_cast<wchar_t>(towlower(c)); });
    return text;
}

bool HasButton(const testenv::SeenBox& box, const std::wstring& label)
{
    for (const std::wstring& button : box.buttons) {
        std::wstring plain;
        for (wchar_t c : button)
            if (c != L'&') plain += c;
        if (Lower(plain) == Lower(label)) return true;
    }
    return false;
}

}  // namespace

bool IsRestartQuestion(const testenv::SeenBox& box)
{
    return Lower(box.caption).find(L"restart") != std::wstring::npos ||
           Lower(box.text).find(L"restart") != std::wstring::npos;
}

int DecliningAnswer(const testenv::SeenBox& box)
{
    return HasButton(box, L"No") ? IDNO : IDCANCEL;
}

testenv::MessageBoxWatcher::Chooser NeverRestart(std::vector<int> answers)
{
    return [answers](const testenv::SeenBox& box, size_t index) {
        if (IsRestartQuestion(box)) return DecliningAnswer(box);
        if (index < answers.size()) return answers[index];
        // A plain notice has only OK; anything with a choice is declined.
        return box.buttons.size() == 1 ? IDOK : DecliningAnswer(box);
    };
}

SetupOutcome RunSetupWatched(const std::wstring& arguments, testenv::MessageBoxWatcher::Chooser chooser,
                             const std::function<void(DWORD)>& whileRunning, DWORD timeoutMs)
{
    return RunCommandWatched(L"\"" + testenv::SetupExecutable() + L"\" " + arguments, std::move(chooser),
                             whileRunning, timeoutMs);
}

SetupOutcome RunCommandWatched(std::wstring commandLine, testenv::MessageBoxWatcher::Chooser chooser,
                               const std::function<void(DWORD)>& whileRunning, DWORD timeoutMs)
{
    SetupOutcome outcome;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return outcome;
    outcome.started = true;
    {
        testenv::MessageBoxWatcher watcher(std::move(chooser), info.dwProcessId);
        const DWORD start = GetTickCount();
        for (;;) {
            const DWORD waited = GetTickCount() - start;
            if (waited >= timeoutMs) break;
            const DWORD slice = whileRunning ? std::min<DWORD>(50, timeoutMs - waited) : timeoutMs - waited;
            if (WaitForSingleObject(info.hProcess, slice) == WAIT_OBJECT_0) {
                outcome.ended = true;
                break;
            }
            if (whileRunning) whileRunning(info.dwProcessId);
        }
        outcome.boxes = watcher.Stop();
    }
    if (!outcome.ended) {
        TerminateProcess(info.hProcess, 99);
        WaitForSingleObject(info.hProcess, 10000);
    }
    GetExitCodeProcess(info.hProcess, &outcome.exitCode);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return outcome;
}

}  // namespace endtoend
