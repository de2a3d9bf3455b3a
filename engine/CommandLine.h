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

}  // namespace ziz
