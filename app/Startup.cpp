#include "app/Startup.h"

#include "app/EngineThread.h"
#include "app/ProgressWindow.h"
#include "app/SetupLog.h"
#include "app/ShellValues.h"
#include "osh/Elevation.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/SystemInfo.h"

#include <shellapi.h>

#include <cwctype>
#include <exception>

namespace app {

namespace {

constexpr UINT WindowTitleText = 400;
constexpr UINT WindowClassText = 109;
constexpr UINT ServerRefusalText = 424;
constexpr UINT AcceleratorTable = 109;
// The longest the process waits for the engine to finish its current state.
constexpr DWORD WorkerStopTimeoutMs = 3600000;

std::wstring ToLower(std::wstring text)
{
    for (auto& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

void SwitchOffVirtualization()
{
    try {
        osh::SetTokenVirtualization(false);
    } catch (const std::exception& error) {
        osh::LogWarning("Virtualization not disabled");
        osh::LogWarning(error.what());
    }
}

bool RefuseServer(bool interactive)
{
    std::wstring description;
    if (!IsServerOrUnknown(description) || !interactive) return false;
    MessageBoxW(nullptr, LoadText(ServerRefusalText).c_str(), description.c_str(), MB_SYSTEMMODAL | MB_ICONERROR);
    return true;
}

void StartEngineThread(HWND window)
{
    Shell().WorkerThread = CreateThread(nullptr, 0, EngineThread, window, 0, nullptr);
    if (Shell().WorkerThread == nullptr) {
        const DWORD error = GetLastError();
        osh::LogError("Cannot start the engine thread, error " + std::to_string(error));
        // Nothing else would end the message loop.
        PostFatalOutcome(window);
    }
}

}  // namespace

std::vector<std::wstring> ReadCommandLine()
{
    int count = 0;
    osh::ScopedLocalMemory list(CommandLineToArgvW(GetCommandLineW(), &count));
    std::vector<std::wstring> arguments;
    if (!list) return arguments;
    auto elements = static_cast<LPWSTR*>(list.get());
    for (int i = 0; i < count; ++i) arguments.emplace_back(elements[i]);
    return arguments;
}

StartSwitches ReadStartSwitches(const std::vector<std::wstring>& arguments)
{
    StartSwitches switches;
    for (const auto& argument : arguments) {
        const std::wstring word = ToLower(argument);
        if (word == L"/silent") switches.Silent = true;
        if (word == L"/server") switches.AllowServer = true;
    }
    return switches;
}

bool IsServerOrUnknown(std::wstring& description)
{
    try {
        description = osh::GetOSDescription();
        return osh::IsServerOS();
    } catch (...) {
        // A system that cannot be classified is treated as a server.
        return true;
    }
}

bool SetUpWindow(HINSTANCE instance, int showCommand)
{
    Shell().Instance = instance;
    const StartSwitches switches = ReadStartSwitches(ReadCommandLine());
    if (switches.Silent) Shell().Interactive = false;
    if (!switches.AllowServer && RefuseServer(Shell().Interactive)) return false;

    HWND window = CreateProgressWindow(instance);
    if (window == nullptr) return false;
    if (Shell().Interactive) {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
    }
    StartEngineThread(window);
    return true;
}

int RunMessageLoop(HACCEL accelerators)
{
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (accelerators != nullptr && TranslateAcceleratorW(message.hwnd, accelerators, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

int RunProcess(HINSTANCE instance, int showCommand)
{
    SetUpLog();
    osh::SetLogStream(SharedLogStream());
    SwitchOffVirtualization();
    LoadTextInto(WindowTitleText, Shell().WindowTitle);
    LoadTextInto(WindowClassText, Shell().WindowClass);
    Shell().Instance = instance;
    RegisterProgressWindowClass(instance);

    osh::ScopedHandle shutdownEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    Shell().ShutdownEvent = shutdownEvent.get();
    if (!SetUpWindow(instance, showCommand)) return 0;
    osh::ScopedHandle workerThread(Shell().WorkerThread);

    // The table is optional; without it every message goes the ordinary way.
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(AcceleratorTable));
    const int exitCode = RunMessageLoop(accelerators);

    SetEvent(shutdownEvent.get());
    HANDLE waitFor[] = {workerThread.get()};
    if (workerThread) WaitForMultipleObjects(1, waitFor, FALSE, WorkerStopTimeoutMs);
    return exitCode;
}

}  // namespace app
