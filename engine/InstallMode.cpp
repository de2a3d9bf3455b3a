#include "engine/InstallMode.h"

namespace ziz {

const wchar_t* InstallModeName(InstallMode mode)
{
    switch (mode) {
    case INSTALL: return L"INSTALL";
    case UPDATE: return L"UPDATE";
    case DOWNLOAD: return L"DOWNLOAD";
    case CHECK: return L"CHECK";
    case UNINSTALL: return L"UNINSTALL";
    case APPLIANCE: return L"APPLIANCE";
    default: return L"INVALID";
    }
}

}  // namespace ziz
