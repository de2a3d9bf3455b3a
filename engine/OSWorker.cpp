#include "engine/OSWorker.h"

#include "engine/EngineMessages.h"
#include "osh/Log.h"
#include "osh/Platform.h"

namespace ziz {

OSWorker::OSWorker() : is64BitOs_(osh::GetNativeBitness() == 64) {}

OSWorker::~OSWorker() = default;

void OSWorker::Notify(EngineStatus status, int a, int b)
{
    Worker::Notify(status, a, b);
    // A null window would make PostMessageW post to this thread's own queue.
    if (window_ == nullptr) return;
    EngineMessage message;
    if (!ComposeEngineMessage(status, a, b, GetMode(), IsRestartRequired(), message)) return;
    // The worker never waits for the window; a failed post is not examined.
    PostMessageW(window_, message.message, message.wParam, message.lParam);
}

bool OSWorker::Is64BitOs() { return is64BitOs_; }

void OSWorker::OnStatusText(ULONG, ULONG, const std::wstring& line) { osh::LogInformation(line); }

// NOT YET RESOLVING ANYTHING: the locations, file names, temporary files, embedded
// sequence, file versions, update URL and scripts below answer false / empty until the
// platform operations are built. A run that needs them fails in its state.

std::wstring OSWorker::GetApplianceScriptPath() { return std::wstring(); }

bool OSWorker::GetPath(std::wstring& path, PathKind kind)
{
    path.clear();
    osh::LogWarning(std::wstring(L"Unable to detect path to ") + PathKindName(kind));
    return false;
}

bool OSWorker::GetUpdateUrl(std::wstring& url)
{
    url.clear();
    return false;
}

bool OSWorker::GetFileName(std::wstring& name, PathKind)
{
    name.clear();
    return false;
}

bool OSWorker::CreateTempFile(std::wstring& path)
{
    path.clear();
    return false;
}

bool OSWorker::LoadEmbeddedSequence(InstallSequence&) { return false; }

bool OSWorker::GetFileVersion(std::wstring& version, const std::wstring&)
{
    version.clear();
    return false;
}

}  // namespace ziz
