#pragma once
// What a test program knows about the run it is part of: where the build tree is,
// where the product executable lies, and how to start a child process and wait for it.
#include <windows.h>

#include <string>
#include <vector>

// What only a 32-bit program under WOW64 shows (the registry and file-system views, the
// x86 folders) is skipped in the 64-bit test build of a host without 32-bit code.
#ifdef _WIN64
#define NORLO_SKIP_UNLESS_WOW64() GTEST_SKIP() << "needs the 32-bit build under WOW64"
#else
#define NORLO_SKIP_UNLESS_WOW64() static_cast<void>(0)
#endif

namespace testenv {

// A Unix path of the build machine as seen from inside Wine (drive Z: maps "/").
std::wstring WindowsPathOf(const std::string& unixPath);

// Value of an environment variable set by the harness; empty when unset.
std::string Variable(const char* name);

// The build tree (NORLO_BUILD_DIR) in Windows form, without a trailing backslash.
std::wstring BuildDirectory();

// The source tree (NORLO_SOURCE_DIR) in Windows form, without a trailing backslash.
std::wstring SourceDirectory();

// The product executable "Setup.exe" of this build.
std::wstring SetupExecutable();

struct ProcessResult {
    bool started = false;
    bool finished = false;  // false when the time limit ran out and the process was ended
    DWORD exitCode = 0;
    DWORD startError = 0;  // CreateProcess's error when it could not start
};

// Runs a command line (program path quoted by the caller where needed) and waits at
// most timeoutMs for it; a process still running then is terminated.
ProcessResult Run(const std::wstring& commandLine, DWORD timeoutMs = 120000,
                  const std::wstring& workingDirectory = L"");

// A fresh, empty directory below the system's temporary directory.
std::wstring MakeScratchDirectory(const std::wstring& prefix);

// Deletes a directory tree; missing paths are fine.
void RemoveTree(const std::wstring& path);

std::string Narrow(const std::wstring& text);
std::wstring Widen(const std::string& text);

// What a started program reads back from its command line with the system's parser.
std::vector<std::wstring> ParsedBack(const std::wstring& commandLine);

}  // namespace testenv
