#include "engine/Worker.h"

#include "engine/CommandLine.h"
#include "engine/VersionCompare.h"

#include <stdexcept>

namespace ziz {

Worker::Worker() = default;

Worker::~Worker() = default;

void Worker::Notify(EngineStatus status, int, int) { lastStatus_ = status; }

void Worker::SetRestartRequired(bool required) { restartRequired_ = required; }

EngineStatus Worker::GetLastStatus() { return lastStatus_; }

void Worker::SetSetupScriptPath(const std::wstring& path) { setupScriptPath_ = path; }

std::wstring Worker::GetSetupScriptPath() { return setupScriptPath_; }

bool Worker::ConsiderCandidate(const std::wstring& path, const std::wstring& version)
{
    if (!IsNewerThanBest(version)) return false;
    bestPath_ = path;
    bestVersion_ = version;
    return true;
}

void Worker::GetBestCandidate(std::wstring& path, std::wstring& version)
{
    path = bestPath_;
    version = bestVersion_;
}

bool Worker::IsNewerThanBest(const std::wstring& version)
{
    if (bestVersion_.empty()) return true;
    return IsNewerVersion(version, bestVersion_);
}

std::wstring Worker::RequirePath(PathKind kind)
{
    std::wstring path;
    if (!GetPath(path, kind))
        throw std::runtime_error(std::string("Unable to determine directory location ") + PathKindDirectoryText(kind));
    return path;
}

std::wstring Worker::RequireFileName(PathKind kind)
{
    std::wstring name;
    if (!GetFileName(name, kind))
        throw std::runtime_error(std::string("Unable to determine file name ") + PathKindFileText(kind));
    return name;
}

void Worker::SetItems(const InstallSequence& items) { items_ = items; }

void Worker::GetItems(InstallSequence& items) { items = items_; }

void Worker::ParseCommandLine(const std::vector<std::wstring>& arguments)
{
    arguments_ = arguments;
    const CommandLineChoice choice = ChooseMode(arguments);
    installType_ = choice.installType;
    if (choice.mode == APPLIANCE) applianceTarget_ = choice.value;
    SetMode(choice.mode);
    SetRestartRequired(choice.restartRequired);
}

void Worker::GetArguments(std::vector<std::wstring>& arguments) { arguments = arguments_; }

bool Worker::GetOption(const std::wstring& name, std::wstring& value)
{
    return FindOption(arguments_, name, value);
}

void Worker::SetMode(InstallMode mode) { mode_ = mode; }

InstallMode Worker::GetModeName(std::wstring& name)
{
    name = InstallModeName(mode_);
    return mode_;
}

InstallMode Worker::GetMode(InstallMode* mode)
{
    if (mode != nullptr) *mode = mode_;
    return mode_;
}

InstallType Worker::GetInstallType() { return installType_; }

bool Worker::IsSelfSigned() { return selfSigned_; }

bool Worker::HasOption(const std::wstring& name)
{
    std::wstring ignored;
    return GetOption(name, ignored);
}

}  // namespace ziz
