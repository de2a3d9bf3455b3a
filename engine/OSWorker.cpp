#include "engine/OSWorker.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/EngineMessages.h"
#include "engine/FileVersion.h"
#include "engine/ResourceFiles.h"
#include "engine/SelfSignature.h"
#include "engine/policy/PolicyKey.h"
#include "osh/FileSystem.h"
#include "osh/Folders.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/PersistentStore.h"
#include "osh/Platform.h"
#include "osh/SystemInfo.h"
#include "osh/Text.h"
#include "sequence/Blob.h"
#include "sequence/SequenceLoader.h"

#include <exception>
#include <stdexcept>

namespace ziz {

namespace {

const wchar_t kSetupGroup[] = L"Setup";
const wchar_t kSetupFileName[] = L"Setup.exe";
const unsigned int kSetupScriptResource = 301;
const unsigned int kApplianceScriptResource = 302;
const unsigned int kSequenceResource = 300;
const unsigned int kUpdateUrlString = 301;

}  // namespace

OSWorker::OSWorker() : is64BitOs_(osh::GetNativeBitness() == 64) { SetSelfSigned(EvaluateSelfSignature()); }

OSWorker::~OSWorker() = default;

void OSWorker::Notify(EngineStatus status, int a, int b)
{
    Worker::Notify(status, a, b);
    // A null window would make PostMessageW post to this thread's own queue.
    if (window_ == nullptr) return;
    EngineMessage message;
    if (!ComposeEngineMessage(status, a, b, GetMode(), IsRestartRequired(), message,
                              IsRestartAgreed() ? RestartAgreed : RestartNone))
        return;
    // The worker never waits for the window; a failed post is not examined.
    PostMessageW(window_, message.message, message.wParam, message.lParam);
}

bool OSWorker::Is64BitOs() { return is64BitOs_; }

void OSWorker::OnStatusText(ULONG, ULONG, const std::wstring& line) { osh::LogInformation(line); }

std::wstring OSWorker::WriteResourceToFile(unsigned int id, const std::wstring& fileName)
{
    std::wstring directory;
    if (!GetTempDirectory(directory) || fileName.empty())
        throw std::runtime_error("Could not find directory/file names");
    const std::wstring path = osh::AppendBackslash(directory) + fileName;
    WriteResourceBytes(id, path);
    return path;
}

std::wstring OSWorker::GetSetupScriptPath()
{
    if (Worker::GetSetupScriptPath().empty()) {
        try {
            SetSetupScriptPath(WriteResourceToFile(kSetupScriptResource, L"setup.cmd"));
        } catch (const std::exception& error) {
            osh::LogWarning("Unable to get command script path.");
            osh::LogWarning(error.what());
            SetSetupScriptPath(std::wstring());
        }
    }
    return Worker::GetSetupScriptPath();
}

std::wstring OSWorker::GetApplianceScriptPath() { return WriteResourceToFile(kApplianceScriptResource, L"appcopy.cmd"); }

bool OSWorker::ConsiderCandidate(const std::wstring& path, const std::wstring& version)
{
    if (!Worker::ConsiderCandidate(path, version)) return false;
    try {
        osh::SetPersistentValue(kSetupGroup, L"NewestVersion", version);
        osh::SetPersistentValue(kSetupGroup, L"NewestPath", path);
    } catch (const std::exception& error) {
        osh::LogWarning(error.what());
        return false;
    }
    return true;
}

bool OSWorker::GetUpdateUrl(std::wstring& url)
{
    url.clear();
    try {
        const Policies& policies = RunPolicies();
        std::wstring override;
        std::wstring builtIn;
        // Under the policy neither is needed, nor may a failure to read them stop the run.
        if (!policies.updateUrl) {
            if (!osh::GetPersistentValue(kSetupGroup, L"updateURL", override)) override.clear();
            builtIn = osh::LoadStringResource(kUpdateUrlString, nullptr, true);
        }
        url = ChooseUpdateUrl(policies, override, builtIn);
        return true;
    } catch (const std::exception& error) {
        url.clear();
        osh::LogWarning(error.what());
        osh::LogWarning("Could not load string IDS_XML_UPDATE_URL");
        return false;
    }
}

bool OSWorker::GetTempDirectory(std::wstring& path)
{
    if (!CreateRunTempFolder(path)) {
        osh::LogWarning("CreateNewTempDirectory() FAILED");
        return false;
    }
    return !path.empty();
}

bool OSWorker::CreateTempFile(std::wstring& path)
{
    path.clear();
    std::wstring directory;
    if (!GetTempDirectory(directory)) {
        osh::LogWarning("Could not discover TempDir");
        return false;
    }
    wchar_t buffer[MAX_PATH] = {};
    if (GetTempFileNameW(directory.c_str(), L"TMP", 0, buffer) == 0) {
        osh::LogWarning("GetTempFileName() FAILED");
        return false;
    }
    path = buffer;
    return true;
}

bool OSWorker::LoadEmbeddedSequence(InstallSequence& items)
{
    try {
        Blob blob;
        ReadResourceBlob(kSequenceResource, blob);
        return LoadPlatformSequence(blob, items, Is64BitOs());
    } catch (const std::exception& error) {
        osh::LogWarning("Unable to load install sequence");
        osh::LogWarning(error.what());
        return false;
    }
}

bool OSWorker::GetFileVersion(std::wstring& version, const std::wstring& path)
{
    return ReadFileVersion(version, path);
}

bool OSWorker::GetPath(std::wstring& path, PathKind kind)
{
    if (GetUnprivilegedPath(path, kind)) {
        RememberPath(path, kind);
        return true;
    }
    osh::LogWarning(std::wstring(L"Unable to detect path to ") + PathKindName(kind));
    return false;
}

bool OSWorker::GetUnprivilegedPath(std::wstring& path, PathKind kind)
{
    if (!IsKnownPathKind(kind)) {
        osh::LogError("Invalid value passed to GetUnprivilegedPath");
        path.clear();
        return false;
    }
    std::wstring& cached = paths_[kind];
    if (!cached.empty()) {
        path = cached;
        return true;
    }
    bool resolved = false;
    try {
        path = ResolvePath(kind);
        resolved = !path.empty();
        if (resolved) cached = path;
    } catch (const std::exception& error) {
        if (resolved) {
            osh::LogInformation(error.what());
        } else {
            osh::LogWarning(error.what());
        }
    }
    if (!resolved) path.clear();
    return resolved;
}

std::wstring OSWorker::ResolvePath(PathKind kind)
{
    std::wstring path;
    switch (kind) {
    case evInitial: return ExecutableDirectory();
    case evSetup: return ProductDirectory(osh::FolderProgramData, L"SetupFiles");
    case evInstall:
        if (!GetPath(path, Is64BitOs() ? evInstall64 : evInstall32)) path.clear();
        return path;
    case evInstall32: return ProductDirectory(osh::FolderProgramFilesX86, nullptr);
    case evInstall64: return ProductDirectory(osh::FolderProgramFiles64, nullptr);
    case evTempDir: return TempDirectoryOfRun();
    case evLog: return LogDirectoryOfRun();
    }
    return path;
}

std::wstring OSWorker::TempDirectoryOfRun()
{
    // Elevated, the run's own admin-only folder, or none: never one a user could have prepared.
    if (IsElevatedRun()) return ElevatedWorkFolder();
    std::wstring path;
    if (!GetTempDirectory(path)) path.clear();
    return path;
}

std::wstring OSWorker::LogDirectoryOfRun()
{
    std::string refusal;
    const std::wstring path =
        SafeWriteFolder("the log folder", ProductDirectory(osh::FolderProgramData, L"log"), refusal);
    if (!refusal.empty()) osh::LogWarning(refusal);
    return path;
}

std::wstring OSWorker::ExecutableDirectory()
{
    std::wstring program;
    try {
        program = osh::ModuleFileName(nullptr);
    } catch (const std::exception&) {
        osh::LogError("GetModuleFileName() failed.");
        return std::wstring();
    }
    std::wstring directory, name;
    if (!osh::SplitPath(program, directory, name)) return std::wstring();
    return directory;
}

void OSWorker::RememberPath(const std::wstring& value, PathKind kind)
{
    const wchar_t* name = RememberedPathName(kind);
    if (name == nullptr) return;
    std::wstring stored;
    // Only a location remembered before is kept up to date.
    if (!osh::GetWellKnownValue(name, stored) || osh::SamePath(stored, value)) return;
    try {
        osh::SetPersistentValue(kSetupGroup, name, value);
    } catch (const std::exception& error) {
        osh::LogWarning("Could not save key/value pair (" + osh::Narrow(name) + "," + osh::Narrow(value) + ")");
        osh::LogWarning(error.what());
    }
}

bool OSWorker::GetFileName(std::wstring& name, PathKind kind)
{
    if (IsKnownPathKind(kind) && !fileNames_[kind].empty()) {
        name = fileNames_[kind];
        return true;
    }
    name.clear();
    switch (kind) {
    case evInitial: {
        std::wstring directory;
        try {
            if (!osh::SplitPath(osh::ModuleFileName(nullptr), directory, name)) name.clear();
        } catch (const std::exception& error) {
            osh::LogWarning(error.what());
            name.clear();
        }
        break;
    }
    case evSetup:
    case evInstall32:
    case evInstall64: name = kSetupFileName; break;
    default: return false;
    }
    if (name.empty()) return false;
    fileNames_[kind] = name;
    return true;
}

}  // namespace ziz
