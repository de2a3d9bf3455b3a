#pragma once
// What one run did, component by component, for the caller that reads the result file:
// filled by the states as they work, read by the process entry once the engine has ended.
// Free of Windows headers.
#include <string>
#include <vector>

namespace ziz {

enum class ComponentAction { Reused, Copied, Downloaded, Installed, Uninstalled, Failed };

// Why a run stopped before changing anything, so that a deployment tool can tell "try
// again later" from a failure: another setup ran past the wait, a backup or restore job
// ran past the wait, or Windows waits for a restart and the run may not restart.
enum class HoldBack { None, Busy, Deferred, RestartPending };

// "busy", "deferred", "restart pending"; empty for None.
const char* HoldBackName(HoldBack holdBack);

// "reused", "copied", "downloaded", "installed", "uninstalled", "failed".
const char* ComponentActionName(ComponentAction action);

struct ComponentRecord {
    std::wstring file;  // the item's file name, or the command for an uninstall entry
    ComponentAction action = ComponentAction::Reused;
    bool hasExitCode = false;
    long exitCode = 0;        // the installer's or uninstaller's exit code, when it ran
    std::string failedCheck;  // "open", "size", "md5", "sha256", "signature", "version", ... when a check failed
    std::wstring log;         // the installer's own log, kept in the log folder
};

class RunReport {
public:
    // Adds the file's record or updates the one already there (a file reused by the
    // download step and then installed keeps one record).
    void Record(const std::wstring& file, ComponentAction action);
    void RecordExitCode(const std::wstring& file, long exitCode);
    // The first failed check of a file counts; the file's action becomes Failed.
    void RecordFailedCheck(const std::wstring& file, const std::string& check);
    // Where the file's installer log was kept.
    void RecordLog(const std::wstring& file, const std::wstring& log);

    // The run handed the work over to another bootstrapper (newer, or elevated) and ended
    // with that process's exit code; that process hands the facts of its run back in
    // handBackFile, and only the process the caller started writes the result.
    void SetHandedOver(long childExitCode, const std::wstring& handBackFile = std::wstring());
    bool HandedOver() const { return handedOver_; }
    long ChildExitCode() const { return childExitCode_; }
    const std::wstring& HandBackFile() const { return handBackFile_; }

    // One line of the failure, for the failure box and the result file; empty when none.
    void SetFailureReason(const std::string& reason);
    const std::string& FailureReason() const { return failureReason_; }

    // What became of the update document: the line that accepted or refused it.
    void SetUpdateDocument(const std::string& line) { updateDocument_ = line; }
    const std::string& UpdateDocument() const { return updateDocument_; }

    // The run stopped before changing anything; the first reason counts.
    void SetHoldBack(HoldBack holdBack);
    HoldBack HeldBack() const { return holdBack_; }

    const std::vector<ComponentRecord>& Components() const { return components_; }

private:
    ComponentRecord& Find(const std::wstring& file);

    std::vector<ComponentRecord> components_;
    bool handedOver_ = false;
    long childExitCode_ = 0;
    std::wstring handBackFile_;
    std::string failureReason_;
    std::string updateDocument_;
    HoldBack holdBack_ = HoldBack::None;
};

}  // namespace ziz
