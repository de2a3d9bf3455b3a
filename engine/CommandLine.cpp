#include "engine/CommandLine.h"

#include "osh/Text.h"

namespace ziz {

namespace {

struct ModeSwitch {
    const wchar_t* word;
    InstallMode mode;
    bool restartRequired;
};

// Nearer the top wins.
const ModeSwitch kModeSwitches[] = {
    {L"uninstall", UNINSTALL, true},
    {L"download", DOWNLOAD, false},
    {L"appliance", APPLIANCE, false},
    {L"check", CHECK, false},
    {L"install", INSTALL, false},
    {L"update", UPDATE, true},
};
const int kSwitchCount = static_cast<int>(sizeof(kModeSwitches) / sizeof(kModeSwitches[0]));
const int kInstallSwitch = 4;

// The name after "/" or "--"; false for an element with neither prefix.
bool StripPrefix(const std::wstring& element, std::wstring& name)
{
    if (element.compare(0, 1, L"/") == 0) {
        name = element.substr(1);
        return true;
    }
    if (element.compare(0, 2, L"--") == 0) {
        name = element.substr(2);
        return true;
    }
    return false;
}

void SplitAtEquals(const std::wstring& text, std::wstring& key, std::wstring& value)
{
    const std::wstring::size_type equals = text.find(L'=');
    if (equals == std::wstring::npos) {
        key = text;
        value.clear();
    } else {
        key = text.substr(0, equals);
        value = text.substr(equals + 1);
    }
}

// Switches of the shell: "/" only, exact words.
const wchar_t* const kShellSwitches[] = {L"silent", L"server", L"norestart"};
// Read with "/" only and a path after "=".
const wchar_t kResultSwitch[] = L"result";
// Between the program's own processes: "/" only and an id after "=".
const wchar_t kHandBackSwitch[] = L"handback";
// Added by a run for the bootstrapper it starts, "/" only, checked by the lock (not listed).
const wchar_t kLockSwitch[] = L"runlock";
// Mode switches and engine options: "/" or "--", any value.
const wchar_t* const kEngineOptions[] = {L"viewer", L"nocheck", L"clean", L"purge", L"migrate", L"clid"};

bool IsOneOf(const std::wstring& name, const wchar_t* const* words, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (osh::EqualsIgnoreAsciiCase(name, words[i])) return true;
    }
    return false;
}

bool IsEngineSwitch(const std::wstring& name)
{
    for (const ModeSwitch& entry : kModeSwitches) {
        if (osh::EqualsIgnoreAsciiCase(name, entry.word)) return true;
    }
    return IsOneOf(name, kEngineOptions, sizeof(kEngineOptions) / sizeof(kEngineOptions[0]));
}

bool IsKnownElement(const std::wstring& element)
{
    if (element.empty()) return true;
    std::wstring option;
    if (!StripPrefix(element, option)) return false;
    const bool slashed = element[0] == L'/';
    const bool hasValue = option.find(L'=') != std::wstring::npos;
    std::wstring name, value;
    SplitAtEquals(option, name, value);
    if (IsOneOf(name, kShellSwitches, sizeof(kShellSwitches) / sizeof(kShellSwitches[0])))
        return slashed && !hasValue;
    if (osh::EqualsIgnoreAsciiCase(name, kResultSwitch)) return slashed && !value.empty();
    if (osh::EqualsIgnoreAsciiCase(name, kHandBackSwitch)) return slashed && IsHandBackId(value);
    if (osh::EqualsIgnoreAsciiCase(name, kLockSwitch)) return slashed && !value.empty();
    return IsEngineSwitch(name);
}

// "/result=..." or "/handback=...": what the caller's process keeps for itself.
bool IsResultSwitch(const std::wstring& element)
{
    std::wstring name, value;
    SplitAtEquals(element, name, value);
    return osh::EqualsIgnoreAsciiCase(name, std::wstring(L"/") + kResultSwitch) ||
           osh::EqualsIgnoreAsciiCase(name, std::wstring(L"/") + kHandBackSwitch);
}

}  // namespace

bool FindUnknownSwitch(const std::vector<std::wstring>& arguments, std::wstring& unknown)
{
    // The first element is the program path.
    for (size_t i = 1; i < arguments.size(); ++i) {
        if (!IsKnownElement(arguments[i])) {
            unknown = arguments[i];
            return true;
        }
    }
    return false;
}

bool IsHandBackId(const std::wstring& id)
{
    // "{8-4-4-4-12}" hexadecimal digits: the id becomes part of a file name.
    static const wchar_t kShape[] = L"{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}";
    if (id.size() != sizeof(kShape) / sizeof(kShape[0]) - 1) return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const wchar_t c = id[i];
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
        if (kShape[i] == L'x' ? !hex : c != kShape[i]) return false;
    }
    return true;
}

std::wstring GivenHandBackId(const std::vector<std::wstring>& arguments)
{
    for (size_t i = 1; i < arguments.size(); ++i) {
        std::wstring name, value;
        SplitAtEquals(arguments[i], name, value);
        if (osh::EqualsIgnoreAsciiCase(name, std::wstring(L"/") + kHandBackSwitch) && IsHandBackId(value)) return value;
    }
    return std::wstring();
}

std::vector<std::wstring> ArgumentsForHandOver(const std::vector<std::wstring>& arguments, const std::wstring& id)
{
    std::vector<std::wstring> passed;
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (i == 0 || !IsResultSwitch(arguments[i])) passed.push_back(arguments[i]);
    }
    passed.push_back(std::wstring(L"/") + kHandBackSwitch + L"=" + id);
    return passed;
}

std::wstring KnownSwitchList()
{
    std::wstring list;
    auto add = [&list](const std::wstring& text) { list += (list.empty() ? L"" : L", ") + text; };
    for (const wchar_t* word : kShellSwitches) add(std::wstring(L"/") + word);
    add(std::wstring(L"/") + kResultSwitch + L"=PATH");
    for (const ModeSwitch& entry : kModeSwitches) add(std::wstring(L"/") + entry.word);
    for (const wchar_t* word : kEngineOptions) add(std::wstring(L"/") + word);
    return list;
}

CommandLineChoice ChooseMode(const std::vector<std::wstring>& arguments)
{
    CommandLineChoice choice;
    int chosen = kSwitchCount;
    std::wstring chosenValue;
    for (const std::wstring& element : arguments) {
        std::wstring option;
        if (!StripPrefix(element, option)) continue;
        std::wstring name, value;
        SplitAtEquals(option, name, value);
        // Only switches above the one chosen so far can still win.
        for (int j = 0; j < chosen; ++j) {
            if (osh::EqualsIgnoreAsciiCase(name, kModeSwitches[j].word)) {
                chosen = j;
                chosenValue = value;
                break;
            }
        }
        if (osh::EqualsIgnoreAsciiCase(name, L"viewer")) choice.installType = InstallTypeViewer;
    }
    if (chosen == kSwitchCount) {
        chosen = kInstallSwitch;
        chosenValue.clear();
    }
    choice.mode = kModeSwitches[chosen].mode;
    choice.restartRequired = kModeSwitches[chosen].restartRequired;
    choice.value = chosenValue;
    return choice;
}

bool FindOption(const std::vector<std::wstring>& arguments, const std::wstring& name, std::wstring& value)
{
    const std::wstring dashed = L"--" + name;
    const std::wstring slashed = L"/" + name;
    for (const std::wstring& element : arguments) {
        std::wstring key, found;
        SplitAtEquals(element, key, found);
        if (osh::EqualsIgnoreAsciiCase(key, dashed) || osh::EqualsIgnoreAsciiCase(key, slashed)) {
            value = found;
            return true;
        }
    }
    return false;
}

}  // namespace ziz
