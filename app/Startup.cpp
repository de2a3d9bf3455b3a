#include "app/Startup.h"

#include "app/EngineThread.h"
#include "app/ProgressWindow.h"
#include "app/ResultFile.h"
#include "app/RunEnd.h"
#include "app/RunRecord.h"
#include "app/RunSummary.h"
#include "app/SetupLog.h"
#include "app/ShellValues.h"
#include "engine/CommandLine.h"
#include "engine/ElevatedWorkFolder.h"
#include "engine/FileVersion.h"
#include "engine/policy/PolicyKey.h"
#include "osh/Elevation.h"
#include "osh/Log.h"
#include "osh/OwnImage.h"
#include "osh/ProxySetting.h"
#include "osh/ScopedHandle.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"

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
    // An error: the caller's exit code and the result file must not read as an install.
    osh::LogError(L"Refused on a server edition: " + description);
    if (!Shell().Unattended) {
        MessageBoxW(nullptr, LoadText(ServerRefusalText).c_str(), description.c_str(), MB_SYSTEMMODAL | MB_ICONERROR);
    }
    return true;
}

std::wstring OwnVersion()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring version;
    if (length == 0 || length >= MAX_PATH || !ziz::ReadFileVersion(version, path)) return std::wstring();
    return version;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& start)
{
    return text.size() >= start.size() && osh::EqualsIgnoreAsciiCase(text.substr(0, start.size()), start);
}

// Its error line is in the log already; someone at the screen is shown it too.
void ShowUnreadablePolicies(const std::string& line)
{
    if (!Shell().Interactive || Shell().Unattended) return;
    MessageBoxW(nullptr, osh::Widen(line).c_str(), Shell().WindowTitle, MB_SYSTEMMODAL | MB_ICONERROR);
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
        if (word == L"/norestart") switches.Unattended = true;
        if (switches.ResultPath.empty() && StartsWithIgnoringCase(argument, L"/result="))
            switches.ResultPath = argument.substr(8);
    }
    switches.HandBackId = ziz::GivenHandBackId(arguments);
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

WindowStart SetUpWindow(HINSTANCE instance, int showCommand)
{
    Shell().Instance = instance;
    const StartSwitches switches = ReadStartSwitches(ReadCommandLine());
    if (switches.Silent) Shell().Interactive = false;
    if (switches.Unattended) Shell().Unattended = true;
    if (!switches.AllowServer && RefuseServer(Shell().Interactive)) return WindowStart::RefusedServer;

    HWND window = CreateProgressWindow(instance);
    if (window == nullptr) {
        const DWORD error = GetLastError();
        osh::LogError("Cannot create the progress window (no desktop?), error " + std::to_string(error));
        return WindowStart::NoWindow;
    }
    if (Shell().Interactive) {
        ShowWindow(window, showCommand);
        UpdateWindow(window);
    }
    StartEngineThread(window);
    return WindowStart::Started;
}

void RefuseUnknownSwitch(const std::wstring& element)
{
    osh::LogError(L"Unknown switch \"" + element + L"\"; known switches: " + ziz::KnownSwitchList());
    if (!Shell().Interactive || Shell().Unattended) return;
    const std::wstring text = L"Unknown switch \"" + element + L"\".\n\nKnown switches: " + ziz::KnownSwitchList();
    MessageBoxW(nullptr, text.c_str(), Shell().WindowTitle, MB_SYSTEMMODAL | MB_ICONERROR);
}

void RefuseResultPath(const std::string& refusal)
{
    osh::LogError(refusal);
    if (!Shell().Interactive || Shell().Unattended) return;
    MessageBoxW(nullptr, osh::Widen(refusal).c_str(), Shell().WindowTitle, MB_SYSTEMMODAL | MB_ICONERROR);
}

int EndRun(int exitCode, const StartSwitches& switches, ziz::InstallMode commandLineMode, RunEnding ending)
{
    const EngineSummary summary = ReadEngineSummary();
    RunFacts facts = GatherRunFacts(Shell().Outcome, summary, FirstLoggedError(), exitCode, commandLineMode, ending);
    AddOwnLogFiles(facts);
    if (facts.handedOver) TakeHandBack(summary.report.HandBackFile(), facts);
    // Only the process the caller started writes the result, with the caller's rights.
    if (!switches.HandBackId.empty()) {
        HandBackFacts(switches.HandBackId, facts);
    } else if (!switches.ResultPath.empty()) {
        WriteResultFile(switches.ResultPath, ResultJson(facts));
    }
    osh::LogInformation(LastLogLine(facts));
    // Also when the engine never ran: the log's set-up may have made the work folder.
    ziz::RemoveRunFolders();
    return exitCode;
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
    // First of all: what the program later judges as itself is the file held from here on.
    osh::HeldOwnImage();
    SetUpLog();
    osh::SetLogger(SharedLogger());
    const std::vector<std::wstring> arguments = ReadCommandLine();
    StartSwitches switches = ReadStartSwitches(arguments);
    const ziz::InstallMode mode = ziz::ChooseMode(arguments).mode;
    osh::LogInformation(FirstLogLine(OwnVersion(), mode, GetCommandLineW()));
    // Before anything they override is used, and stated where an administrator looks first.
    ziz::StatePolicies();
    osh::SetProxySetting(ziz::ChooseProxy(ziz::RunPolicies()));
    LoadTextInto(WindowTitleText, Shell().WindowTitle);
    LoadTextInto(WindowClassText, Shell().WindowClass);
    Shell().Interactive = !switches.Silent;
    Shell().Unattended = switches.Unattended;

    // A typo must not turn into an install: nothing happens before the command line is known good.
    std::wstring unknown;
    if (ziz::FindUnknownSwitch(arguments, unknown)) {
        RefuseUnknownSwitch(unknown);
        return EndRun(-1, switches, mode);
    }
    // Where the result goes is settled now, against the caller's current directory; a result
    // that could not be written must not wait for the end of an install to be found out.
    if (!switches.ResultPath.empty() && switches.HandBackId.empty()) {
        std::string refusal;
        std::wstring full;
        if (!CheckResultPath(switches.ResultPath, full, refusal)) {
            switches.ResultPath.clear();
            RefuseResultPath(refusal);
            return EndRun(-1, switches, mode);
        }
        switches.ResultPath = full;
    }
    // Only now, so the result file is the one the caller named and checked.
    if (!ziz::PolicyKeyUnreadable().empty()) {
        ShowUnreadablePolicies(ziz::PolicyKeyUnreadable());
        return EndRun(-1, switches, mode);
    }

    SwitchOffVirtualization();
    Shell().Instance = instance;
    RegisterProgressWindowClass(instance);

    // Manual reset: the transfer that waits on it too must not take the signal from the run loop.
    osh::ScopedHandle shutdownEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Shell().ShutdownEvent = shutdownEvent.get();
    switch (SetUpWindow(instance, showCommand)) {
    case WindowStart::RefusedServer: return EndRun(-1, switches, mode, RunEnding::Refused);
    case WindowStart::NoWindow: return EndRun(-1, switches, mode);
    case WindowStart::Started: break;
    }
    osh::ScopedHandle workerThread(Shell().WorkerThread);

    // The table is optional; without it every message goes the ordinary way.
    HACCEL accelerators = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(AcceleratorTable));
    const int exitCode = RunMessageLoop(accelerators);

    SetEvent(shutdownEvent.get());
    HANDLE waitFor[] = {workerThread.get()};
    if (workerThread) WaitForMultipleObjects(1, waitFor, FALSE, WorkerStopTimeoutMs);
    // The engine thread has ended (or the hour is over): its summary is complete.
    if (!Shell().Outcome.handled) {
        // Closed before an outcome: whatever the window's quit code, the caller must not read success.
        osh::LogWarning("The run was cancelled before it reported an outcome");
        return EndRun(-1, switches, mode, RunEnding::Cancelled);
    }
    return EndRun(exitCode, switches, mode);
}

}  // namespace app
