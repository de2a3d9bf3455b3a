#pragma once
// The locations the engine and its states name: one value indexes both a directory and a
// well-known file name.

namespace ziz {

// A fixed underlying type, so any value a caller passes (also an invalid one) is well-defined.
enum PathKind : int {
    evInitial = 0,  // the running executable
    evSetup,        // the setup-files directory
    evInstall,      // the program installation directory of this system's bitness
    evInstall32,
    evInstall64,
    evTempDir,      // one temporary directory per process
    evLog
};

// Display name of a kind ("evSetup"); "evInvalid" for any value outside the enumeration.
const wchar_t* PathKindName(PathKind kind);

// The texts that complete the messages of the throwing look-ups.
const char* PathKindDirectoryText(PathKind kind);
const char* PathKindFileText(PathKind kind);

}  // namespace ziz
