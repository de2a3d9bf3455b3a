#pragma once
// Reading the engine's switches and options out of the command line. Free of Windows headers.
#include "engine/InstallMode.h"

#include <string>
#include <vector>

namespace ziz {

struct CommandLineChoice {
    InstallMode mode = INSTALL;
    bool restartRequired = false;
    InstallType installType = InstallTypeServices;
    std::wstring value;  // the text after "=" of the winning mode switch
};

// The winning mode switch: "uninstall" beats "download" beats "appliance" beats "check"
// beats "install" beats "update", whatever their order; none means INSTALL.
CommandLineChoice ChooseMode(const std::vector<std::wstring>& arguments);

// Finds "--name" or "/name" (any case), alone or followed by "=" and a value; the value
// is everything after the first "=". Every element is searched, the program path too.
bool FindOption(const std::vector<std::wstring>& arguments, const std::wstring& name, std::wstring& value);

// The first element after the program path that the program does not know, so that a
// typo ends the run before anything happens; false when every element is known. Known:
// the shell's "/silent", "/server" and "/norestart" written exactly so (any case, "/" only,
// no value), "/result=" with a path, "/handback=" with an id, and the mode switches and engine options with "/" or
// "--", alone or with "=" and a value. A word without a prefix is refused too (a missing
// slash must not turn "uninstall" into an install); an empty element is harmless.
bool FindUnknownSwitch(const std::vector<std::wstring>& arguments, std::wstring& unknown);

// A process started by another one of the run (a newer bootstrapper, or this one elevated)
// gets "/handback=<id>" instead of the caller's "/result=": it hands the facts of its run
// back under that id, and only the process the caller started writes the result file. The
// id is a GUID in braces, as it becomes part of a file name.
bool IsHandBackId(const std::wstring& id);
// The id this process was given; empty when the caller started it.
std::wstring GivenHandBackId(const std::vector<std::wstring>& arguments);
// The arguments for the process this one starts: every "/result=" and "/handback=" left
// out, "/handback=<id>" added at the end. The program path stays first.
std::vector<std::wstring> ArgumentsForHandOver(const std::vector<std::wstring>& arguments, const std::wstring& id);

// The known switches as the refusal lists them: "/silent, /server, ...".
std::wstring KnownSwitchList();

}  // namespace ziz
