#pragma once
// The install engine: everything that passes from state to state during one run, and the
// operations the states use. Abstract; OSWorker supplies the operations that touch the
// operating system. Free of Windows headers.
#include "engine/EngineStatus.h"
#include "engine/InstallMode.h"
#include "engine/PathKind.h"
#include "engine/RunReport.h"
#include "engine/UninstallPlan.h"
#include "sequence/InstallSequence.h"

#include <map>
#include <string>
#include <vector>

namespace ziz {

class Worker {
public:
    Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // The virtual operations keep this order; the concrete engine relies on it.
    virtual ~Worker();
    // Records the status; the concrete engine also tells the window.
    virtual void Notify(EngineStatus status, int a = 0, int b = 0);
    virtual void SetRestartRequired(bool required);
    virtual EngineStatus GetLastStatus();
    virtual void SetSetupScriptPath(const std::wstring& path);
    virtual std::wstring GetSetupScriptPath();
    virtual std::wstring GetApplianceScriptPath() = 0;
    // Makes the candidate the best bootstrapper when its version is newer.
    virtual bool ConsiderCandidate(const std::wstring& path, const std::wstring& version);
    virtual void GetBestCandidate(std::wstring& path, std::wstring& version);
    // Numeric comparison of dotted versions; a version with a part that is not a number
    // is never newer.
    virtual bool IsNewerThanBest(const std::wstring& version);
    // GetPath, or std::runtime_error "Unable to determine directory location " + text.
    virtual std::wstring RequirePath(PathKind kind);
    virtual bool GetPath(std::wstring& path, PathKind kind) = 0;
    virtual bool GetUpdateUrl(std::wstring& url) = 0;
    // GetFileName, or std::runtime_error "Unable to determine file name " + text.
    virtual std::wstring RequireFileName(PathKind kind);
    virtual bool GetFileName(std::wstring& name, PathKind kind) = 0;
    virtual bool CreateTempFile(std::wstring& path) = 0;
    virtual bool LoadEmbeddedSequence(InstallSequence& items) = 0;
    virtual bool GetFileVersion(std::wstring& version, const std::wstring& path) = 0;
    // True when the file can be opened, its MD5 digest matches the item's Hash (if any),
    // it is signed when IsSelfSigned, and its version equals the item's Version (if any).
    // Logs the first failing check as a warning with the path and returns false.
    virtual bool VerifyItemFile(const InstallItem& item, const std::wstring& path);
    virtual bool Is64BitOs() = 0;
    virtual void SetItems(const InstallSequence& items);
    virtual void GetItems(InstallSequence& items);
    // Numbered lists in the persistent key store: keys "0", "1", ... of a group.
    // LoadList bridges up to two missing numbers in total; AddToList writes the value
    // under the first free number unless it is already listed. Store failures are logged.
    virtual void LoadList(std::map<std::wstring, std::wstring>& list, const std::wstring& group);
    virtual void AddToList(const std::wstring& value, const std::wstring& group);
    virtual void LoadUninstallList(std::map<std::wstring, std::wstring>& list);
    virtual void AddUninstallEntry(const std::wstring& value);
    virtual void ParseCommandLine(const std::vector<std::wstring>& arguments);
    virtual void GetArguments(std::vector<std::wstring>& arguments);
    // Looks for "/name" or "--name", optionally with "=value"; case-insensitive.
    virtual bool GetOption(const std::wstring& name, std::wstring& value);
    virtual void SetMode(InstallMode mode);
    virtual InstallMode GetModeName(std::wstring& name);
    virtual InstallMode GetMode(InstallMode* mode = nullptr);
    virtual InstallType GetInstallType();
    virtual bool IsSelfSigned();

    bool HasOption(const std::wstring& name);
    const std::wstring& GetApplianceTarget() const { return applianceTarget_; }
    bool IsRestartRequired() const { return restartRequired_; }
    // The user agreed to restart (older generation removed): the window restarts unasked.
    void SetRestartAgreed(bool agreed) { restartAgreed_ = agreed; }
    bool IsRestartAgreed() const { return restartAgreed_; }
    // What this run did, for the result file.
    RunReport& Report() { return report_; }
    // The uninstall commands a failed install undoes, decided when it failed.
    void SetRollBack(const std::vector<UninstallEntry>& plan) { rollBack_ = plan; }
    const std::vector<UninstallEntry>& GetRollBack() const { return rollBack_; }

protected:
    void SetSelfSigned(bool selfSigned) { selfSigned_ = selfSigned; }

private:
    std::wstring setupScriptPath_;
    bool selfSigned_ = false;
    bool restartRequired_ = false;
    bool restartAgreed_ = false;
    RunReport report_;
    std::vector<UninstallEntry> rollBack_;
    EngineStatus lastStatus_ = StatusFailed;
    std::wstring bestVersion_;
    std::wstring bestPath_;
    std::vector<std::wstring> arguments_;
    InstallSequence items_;
    InstallMode mode_ = INVALID;
    InstallType installType_ = InstallTypeServices;
    std::wstring applianceTarget_;
};

}  // namespace ziz
