#pragma once
// The worker thread: creates the engine, hands it the command line and a working
// directory, and walks the state machine until a final state or the shutdown event.
#include <windows.h>

#include <memory>

namespace ziz {
class OSWorker;
}

namespace app {

// Results of RunEngine besides 0.
constexpr int EngineNotCreated = -1;
constexpr int NoWorkingDirectory = -2;

// String id of the text shown when the engine ends without having reported an outcome.
constexpr UINT FatalErrorText = 401;

// Steps of one engine run on the calling thread; the window receives the engine's
// messages. Returns 0, EngineNotCreated or NoWorkingDirectory; exceptions pass through.
int RunEngine(HWND window);

// Thread procedure; the parameter is the progress window. When the run ends without an
// outcome of its own (no engine, no working directory, an exception), the window is told
// that the run failed, so the message loop ends with -1 instead of waiting forever.
DWORD WINAPI EngineThread(LPVOID window);

// Posts the failure outcome that ends the message loop with -1.
void PostFatalOutcome(HWND window);

// Creation of the engine object. Tests replace it to provoke the run's early ends; null
// restores the real one. Returns the previous factory.
using EngineFactory = std::unique_ptr<ziz::OSWorker> (*)();
EngineFactory SetEngineFactory(EngineFactory factory);

}  // namespace app
