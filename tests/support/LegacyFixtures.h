#pragma once
// What the legacy-removal tests share: the registry places of the older generations and
// of the run-once hand-over, and the questions the removal asks.
#include <windows.h>

#include <string>

namespace legacytest {

extern const wchar_t kRunOnce[];
extern const wchar_t kRunOnceValue[];
extern const wchar_t kInnoKey[];  // previous generation, 32-bit view
extern const wchar_t kBetaKey[];  // beta of this generation, 64-bit view
extern const wchar_t kRestartQuestion[];

// HKEY_LOCAL_MACHINE string values in the given registry view (0: the process's own).
void WriteString(REGSAM view, const wchar_t* path, const wchar_t* name, const std::wstring& value);
bool ReadString(REGSAM view, const wchar_t* path, const wchar_t* name, std::wstring& out);
void DeleteValue(REGSAM view, const wchar_t* path, const wchar_t* name);

// The run-once command, or "<missing>".
std::wstring RunOnceCommand();

// The program the RunOnce command starts, when it lies where the elevated run puts it (a new
// folder "<Windows>\Temp\Norlo-Restart-<GUID>" of its own, which standard users cannot
// change) as "Setup.exe"; otherwise a text naming the command, which matches no path.
std::wstring RestartCopy();
// The text of the removal question for an older product.
std::wstring RemovalQuestion(const std::wstring& oldProduct);

}  // namespace legacytest
