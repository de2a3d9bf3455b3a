#include "engine/BackupJobWait.h"

#include "engine/BoundedWait.h"
#include "engine/GateSettings.h"
#include "osh/Log.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

namespace ziz {

namespace {

std::wstring Seconds(ULONGLONG milliseconds) { return std::to_wstring(milliseconds / 1000) + L" seconds"; }

}  // namespace

JobMark JobMarkFromOpen(bool opened, DWORD error)
{
    if (opened) return JobMark::Running;
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE: return JobMark::Running;
    case ERROR_FILE_NOT_FOUND: return JobMark::None;
    default: return JobMark::Unknown;
    }
}

JobMark LookForBackupJob(const std::wstring& objectName)
{
    osh::ScopedHandle mark(OpenEventW(SYNCHRONIZE, FALSE, objectName.c_str()));
    const DWORD error = GetLastError();
    return JobMarkFromOpen(static_cast<bool>(mark), error);
}

bool WaitForBackupJob(Worker& worker, HANDLE cancel)
{
    const GateSettings settings = ReadGateSettings();
    if (settings.jobObjectName.empty()) return true;
    bool unknown = false;
    const auto jobEnded = [&]() {
        const JobMark mark = LookForBackupJob(settings.jobObjectName);
        unknown = mark == JobMark::Unknown;
        return mark != JobMark::Running;
    };
    const auto sayWaiting = [&]() {
        osh::LogInformation(L"A backup or restore job is running (" + settings.jobObjectName + L"); waiting up to " +
                            Seconds(settings.jobWaitMs) + L" for it to end");
        worker.Notify(StatusWaitingForBackup);
    };
    switch (WaitBounded(jobEnded, settings.jobWaitMs, cancel, sayWaiting)) {
    case WaitStep::Go:
        if (unknown) osh::LogWarning(L"Cannot tell whether a backup or restore job runs (" + settings.jobObjectName + L")");
        return true;
    case WaitStep::Stop: osh::LogWarning("Stopped waiting for the backup or restore job: the run is being closed"); return false;
    case WaitStep::GiveUp:
    case WaitStep::Wait: break;
    }
    const std::wstring reason = L"A backup or restore job still runs after " + Seconds(settings.jobWaitMs) +
                                L"; nothing was changed, try again later";
    osh::LogError(reason);
    worker.Report().SetHoldBack(HoldBack::Deferred);
    worker.Report().SetFailureReason(osh::Narrow(reason));
    return false;
}

}  // namespace ziz
