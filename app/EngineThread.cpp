#include "app/EngineThread.h"

#include "app/RunSummary.h"
#include "app/ShellValues.h"
#include "app/Startup.h"
#include "engine/ElevatedWorkFolder.h"
#include "engine/EngineMessages.h"
#include "engine/InstallMode.h"
#include "engine/OSWorker.h"
#include "engine/PathKind.h"
#include "engine/RestartCopy.h"
#include "engine/RunLoop.h"
#include "engine/RunLock.h"
#include "osh/FileSystem.h"
#include "osh/HttpTransfer.h"
#include "osh/Log.h"
#include "osh/SystemInfo.h"

#include <exception>
#include <new>
#include <utility>

namespace app {

namespace {

std::unique_ptr<ziz::OSWorker> CreateRealEngine()
{
    return std::unique_ptr<ziz::OSWorker>(new (std::nothrow) ziz::OSWorker());
}

EngineFactory g_engineFactory = CreateRealEngine;

// The setup-files directory when it can be made, else the user's temporary directory.
bool EnsureWorkingDirectory(ziz::OSWorker& engine)
{
    std::wstring setupDirectory;
    if (engine.GetPath(setupDirectory, ziz::evSetup) && osh::CreatePath(setupDirectory, false)) return true;
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length > MAX_PATH) return false;
    return osh::CreatePath(temp, false);
}

// Copies what the shell needs at the end out of the engine before it is deleted, also
// when a state's exception leaves the run loop.
class SummaryOnExit {
public:
    explicit SummaryOnExit(ziz::OSWorker& engine) : engine_(engine) {}
    ~SummaryOnExit()
    {
        try {
            EngineSummary summary;
            summary.ran = true;
            summary.mode = engine_.GetMode();
            summary.lastStatus = engine_.GetLastStatus();
            summary.report = engine_.Report();
            PublishEngineSummary(summary);
        } catch (...) {
            // Out of memory: the end of the run reports without the engine's details.
        }
    }
    SummaryOnExit(const SummaryOnExit&) = delete;
    SummaryOnExit& operator=(const SummaryOnExit&) = delete;

private:
    ziz::OSWorker& engine_;
};

}  // namespace

EngineFactory SetEngineFactory(EngineFactory factory)
{
    return std::exchange(g_engineFactory, factory != nullptr ? factory : CreateRealEngine);
}

int RunEngine(HWND window)
{
    // Another setup may start once this run's engine is done.
    struct RunLockRelease {
        ~RunLockRelease() { ziz::ReleaseRunLock(); }
    } runLockRelease;
    // The folders the run made for its temporary files go with it, however it ends, and so
    // does the restart folder of the copy it may run from.
    struct RunFoldersRemoval {
        ~RunFoldersRemoval()
        {
            ziz::RemoveRunFolders();
            ziz::RemoveOwnRestartFolder();
        }
    } runFoldersRemoval;
    std::unique_ptr<ziz::OSWorker> engine = g_engineFactory();
    if (!engine) return EngineNotCreated;
    engine->SetWindow(window);
    engine->ParseCommandLine(ReadCommandLine());
    if (!EnsureWorkingDirectory(*engine)) return NoWorkingDirectory;
    osh::LogInformation(osh::GetOSDescription());
    SummaryOnExit summary(*engine);
    // One run at a time per machine; a run that may not start has changed nothing.
    if (!ziz::PassRunLock(*engine, Shell().ShutdownEvent)) return 0;
    // Closing the window also stops a running transfer, not only the walk between states.
    osh::SetTransferCancelEvent(Shell().ShutdownEvent);
    struct CancelReset {
        ~CancelReset() { osh::SetTransferCancelEvent(nullptr); }
    } cancelReset;
    ziz::RunStateMachine(*engine, Shell().ShutdownEvent);
    return 0;
}

void PostFatalOutcome(HWND window)
{
    // Outcome code 0 (failure) in the high byte; no mode applies.
    PostMessageW(window, WM_ENGINE_DONE, MAKEWORD(ziz::INVALID, 0), FatalErrorText);
}

DWORD WINAPI EngineThread(LPVOID parameter)
{
    HWND window = static_cast<HWND>(parameter);
    int result = 0;
    try {
        result = RunEngine(window);
    } catch (const std::exception& error) {
        osh::LogError(std::string("Engine stopped by an exception: ") + error.what());
        PostFatalOutcome(window);
        return 0;
    } catch (...) {
        osh::LogError("Engine stopped by an unknown exception");
        PostFatalOutcome(window);
        return 0;
    }
    if (result != 0) {
        osh::LogError("Engine ended with " + std::to_string(result) + " before reporting an outcome");
        PostFatalOutcome(window);
    }
    return static_cast<DWORD>(result);
}

}  // namespace app
