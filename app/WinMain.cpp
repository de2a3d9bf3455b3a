#include "app/Startup.h"
#include "osh/SystemDllLoading.h"

#include <windows.h>

#include <cstdlib>

// The C++ library's default terminate handler names the exception on standard error,
// which a GUI process does not have, and drags in the symbol demangler (about 50 KB).
// The process ends the same way without it.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand)
{
    // Before anything can load a DLL: an elevated run must not pick one up from the
    // program's folder or the current directory.
    osh::RestrictDllSearchToSystemFolder();
    return app::RunProcess(instance, showCommand);
}
