#pragma once
// Where the setup log goes: "<product data folder>\log", with the data folder taken from
// the vendor configuration. An elevated run is steered by nothing a standard user can
// change: it takes the data folder of ".vendor.config" only when no standard user can
// change that file (otherwise the compiled-in one, with a warning), refuses a log folder
// that does not lie inside that data folder, and writes into none that fails the folder
// checks (ziz::SafeWriteFolder); it then logs to its own work folder.
#include <string>
#include <vector>

namespace app {

// The folder the log goes to; empty when an elevated run has no safe place. `warnings`
// receives the lines to log once the log is open.
std::wstring ChooseLogFolder(std::vector<std::string>& warnings);

}  // namespace app
