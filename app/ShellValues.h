#pragma once
// The few values the process entry sets up once and the window procedure reads: the
// module instance, the window title and class name from the string table, whether the
// run is interactive, and the event that tells the engine thread to stop.
#include <windows.h>

#include <string>

namespace app {

// Length, in characters, of the buffers string-table texts are loaded into.
constexpr int StringBufferLength = 4096;

// The outcome the window carried out; main thread only.
struct HandledOutcome {
    bool handled = false;
    bool handedOver = false;  // another bootstrapper did the work and gave this exit code
    int mode = 6;             // ziz::InstallMode; INVALID until an outcome arrives
    int outcome = 0;          // ziz::EngineOutcomeCode
    int exitCode = -1;
};

struct ShellValues {
    HINSTANCE Instance = nullptr;
    wchar_t WindowTitle[StringBufferLength] = {};
    wchar_t WindowClass[StringBufferLength] = {};
    // Cleared by "/silent": no window and no message boxes.
    bool Interactive = true;
    // Set by "/norestart": nobody at the screen, so no box, no restart question, no restart.
    bool Unattended = false;
    // Signalled when the message loop has ended; the engine thread polls it between states.
    HANDLE ShutdownEvent = nullptr;
    // The engine thread, started by the window set-up; owned by the process entry.
    HANDLE WorkerThread = nullptr;
    HandledOutcome Outcome;
};

// The process-wide values. Written by the main thread before the engine thread starts.
ShellValues& Shell();

// A string-table text of the program loaded through a 4096-character buffer; a missing
// id gives an empty text.
std::wstring LoadText(UINT id);

// Loads a string-table text straight into one of the shell's buffers.
void LoadTextInto(UINT id, wchar_t (&buffer)[StringBufferLength]);

}  // namespace app
