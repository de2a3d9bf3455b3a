#include "engine/RunReport.h"

namespace ziz {

const char* ComponentActionName(ComponentAction action)
{
    switch (action) {
    case ComponentAction::Reused: return "reused";
    case ComponentAction::Copied: return "copied";
    case ComponentAction::Downloaded: return "downloaded";
    case ComponentAction::Installed: return "installed";
    case ComponentAction::Uninstalled: return "uninstalled";
    case ComponentAction::Failed: return "failed";
    }
    return "failed";
}

const char* HoldBackName(HoldBack holdBack)
{
    switch (holdBack) {
    case HoldBack::None: return "";
    case HoldBack::Busy: return "busy";
    case HoldBack::Deferred: return "deferred";
    case HoldBack::RestartPending: return "restart pending";
    }
    return "";
}

ComponentRecord& RunReport::Find(const std::wstring& file)
{
    for (ComponentRecord& record : components_) {
        if (record.file == file) return record;
    }
    components_.push_back(ComponentRecord{file, ComponentAction::Reused, false, 0, std::string(), std::wstring()});
    return components_.back();
}

void RunReport::Record(const std::wstring& file, ComponentAction action) { Find(file).action = action; }

void RunReport::RecordExitCode(const std::wstring& file, long exitCode)
{
    ComponentRecord& record = Find(file);
    record.hasExitCode = true;
    record.exitCode = exitCode;
}

void RunReport::RecordFailedCheck(const std::wstring& file, const std::string& check)
{
    ComponentRecord& record = Find(file);
    if (record.failedCheck.empty()) record.failedCheck = check;
    record.action = ComponentAction::Failed;
}

void RunReport::RecordLog(const std::wstring& file, const std::wstring& log) { Find(file).log = log; }

void RunReport::SetHandedOver(long childExitCode, const std::wstring& handBackFile)
{
    handedOver_ = true;
    childExitCode_ = childExitCode;
    handBackFile_ = handBackFile;
}

void RunReport::SetHoldBack(HoldBack holdBack)
{
    if (holdBack_ == HoldBack::None) holdBack_ = holdBack;
}

void RunReport::SetFailureReason(const std::string& reason)
{
    // The first reason is the cause; later ones are consequences.
    if (failureReason_.empty()) failureReason_ = reason;
}

}  // namespace ziz
