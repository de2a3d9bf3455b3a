#pragma once
// Which Windows the program runs on.
#include <windows.h>

namespace osh {

// NT platform with a major version above 5.
bool IsVistaOrLater();

// True when this 32-bit process runs under WOW64; false where the system cannot say.
bool IsWow64();

// 64 on an x64 or IA-64 system, else 32.
int GetNativeBitness();

}  // namespace osh
