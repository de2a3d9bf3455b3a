// libFuzzer target: the bytes as a command line of UTF-16 code units (little-endian pairs,
// elements separated by a zero unit). Runs the mode choice, option look-ups, the engine's
// ParseCommandLine, the version rule and command-template expansion on them, and checks
// the rules that must hold for every input.
#include "engine/CommandLine.h"
#include "engine/VersionCompare.h"
#include "sequence/CommandTemplate.h"
#include "support/TestWorker.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Require(bool condition, const char* what)
{
    if (condition) return;
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

std::vector<std::wstring> Elements(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::wstring> elements(1);
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0)
            elements.emplace_back();
        else
            elements.back().push_back(unit);
    }
    return elements;
}

void CheckMode(const std::vector<std::wstring>& elements)
{
    const ziz::CommandLineChoice choice = ziz::ChooseMode(elements);
    Require(choice.mode >= ziz::INSTALL && choice.mode <= ziz::APPLIANCE, "a named mode is always chosen");
    Require(choice.restartRequired == (choice.mode == ziz::UPDATE || choice.mode == ziz::UNINSTALL),
            "restart follows the mode");

    testsupport::TestWorker worker;
    worker.ParseCommandLine(elements);
    Require(worker.GetMode() == choice.mode, "the engine takes the chosen mode");
    Require(worker.IsRestartRequired() == choice.restartRequired, "the engine takes the restart flag");
    Require(worker.GetInstallType() == choice.installType, "the engine takes the install type");
    Require(choice.mode == ziz::APPLIANCE || worker.GetApplianceTarget().empty(), "a target only for appliance");
    std::wstring modeName;
    worker.GetModeName(modeName);
    Require(!modeName.empty(), "every mode has a name");

    for (const wchar_t* name : {L"migrate", L"clid", L"viewer", L"nocheck"}) {
        std::wstring value = L"untouched";
        const bool found = worker.GetOption(name, value);
        Require(found || value == L"untouched", "a missing option leaves the value");
        Require(found == worker.HasOption(name), "HasOption agrees with GetOption");
    }
    // The first element's name, asked back, is found whenever it carries a prefix.
    const std::wstring& first = elements.front();
    if (first.size() > 2 && first.compare(0, 2, L"--") == 0) {
        const std::wstring name = first.substr(2, first.find(L'=') == std::wstring::npos ? std::wstring::npos
                                                                                        : first.find(L'=') - 2);
        std::wstring value;
        Require(ziz::FindOption(elements, name, value), "an option on the command line is found");
    }
}

void CheckVersions(const std::vector<std::wstring>& elements)
{
    for (std::size_t i = 0; i + 1 < elements.size(); ++i) {
        const std::wstring& a = elements[i];
        const std::wstring& b = elements[i + 1];
        Require(!(ziz::IsNewerVersion(a, b) && ziz::IsNewerVersion(b, a)), "newer is never mutual");
        Require(!ziz::IsNewerVersion(a, a), "a version is not newer than itself");
    }
}

void CheckTemplate(const std::vector<std::wstring>& elements)
{
    const auto at = [&](std::size_t i) { return i < elements.size() ? elements[i] : std::wstring(); };
    const std::wstring expanded = ExpandCommand(true, at(1), at(0), at(2), at(3), at(4), at(5));
    if (at(0).find(L'[') == std::wstring::npos) Require(expanded == at(0), "no placeholder, no change");
    ExpandCommand(false, at(1), at(0), at(2), at(3), at(4), at(5));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::wstring> elements = Elements(data, size);
    CheckMode(elements);
    CheckVersions(elements);
    CheckTemplate(elements);
    return 0;
}
