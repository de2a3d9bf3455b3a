#pragma once
// The job of a run, chosen by a command-line switch, and the kind of installation.

namespace ziz {

// A fixed underlying type: the mode is a 32-bit value that may hold anything (6 and above
// all mean INVALID).
enum InstallMode : int {
    INSTALL = 0,
    UPDATE = 1,
    DOWNLOAD = 2,
    CHECK = 3,
    UNINSTALL = 4,
    APPLIANCE = 5,
    INVALID = 6
};

enum InstallType : int {
    InstallTypeViewer = 0,
    InstallTypeServices = 1
};

// Upper-case name of a mode ("INSTALL"); "INVALID" for any value outside 0-5. The hook
// script receives it as its first argument.
const wchar_t* InstallModeName(InstallMode mode);

}  // namespace ziz
