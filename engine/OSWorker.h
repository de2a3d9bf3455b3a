#pragma once
// The one concrete engine: completes Worker with the operations that touch the operating
// system and tells the progress window what happens.
#include <windows.h>

#include "engine/Locations.h"
#include "engine/BindStatusCallback.h"
#include "engine/Worker.h"

#include <string>

namespace ziz {

class OSWorker : public Worker, public CBindStatusCallback {
public:
    OSWorker();
    ~OSWorker() override;

    // The progress window that receives WM_ENGINE_STATUS and WM_ENGINE_DONE; null posts nothing.
    void SetWindow(HWND window) { window_ = window; }
    HWND GetWindow() const { return window_; }

    void Notify(EngineStatus status, int a = 0, int b = 0) override;
    // Extracts the hook script on first use; empty (and tried again next time) on failure.
    std::wstring GetSetupScriptPath() override;
    // A fresh copy of the appliance script in a new temporary directory on every call.
    std::wstring GetApplianceScriptPath() override;
    // Also remembers a new best candidate as "NewestVersion" and "NewestPath".
    bool ConsiderCandidate(const std::wstring& path, const std::wstring& version) override;
    // GetUnprivilegedPath, then RememberPath; a failure logs "Unable to detect path to <kind>".
    bool GetPath(std::wstring& path, PathKind kind) override;
    // The policy "UpdateURL", else the key store's "updateURL", else the built-in update URL.
    bool GetUpdateUrl(std::wstring& url) override;
    bool GetFileName(std::wstring& name, PathKind kind) override;
    // An empty, uniquely named file in a new temporary directory.
    bool CreateTempFile(std::wstring& path) override;
    // This system's components from the embedded install sequence.
    bool LoadEmbeddedSequence(InstallSequence& items) override;
    bool GetFileVersion(std::wstring& version, const std::wstring& path) override;
    bool Is64BitOs() override;

    // Download progress lines go to the setup log.
    void OnStatusText(ULONG progress, ULONG progressMax, const std::wstring& line) override;

    // Rewrites the remembered location of a kind when one is stored and differs (ignoring
    // case); never creates it. A failed write is logged, never thrown.
    virtual void RememberPath(const std::wstring& value, PathKind kind);
    // Resolves a location without remembering it; successes are cached for the engine's life.
    virtual bool GetUnprivilegedPath(std::wstring& path, PathKind kind);
    // A new uniquely named directory on every call (below the work folder when elevated).
    virtual bool GetTempDirectory(std::wstring& path);

    // Writes the data resource id as fileName into a new temporary directory; returns the
    // file's path. Throws std::runtime_error "Could not find directory/file names" and
    // what WriteResourceBytes throws.
    std::wstring WriteResourceToFile(unsigned int id, const std::wstring& fileName);

private:
    // The location of a kind, uncached; throws what the look-ups throw.
    std::wstring ResolvePath(PathKind kind);
    std::wstring ExecutableDirectory();
    std::wstring TempDirectoryOfRun();
    // The product's log folder; elevated, only when it passes the folder checks.
    std::wstring LogDirectoryOfRun();

    HWND window_ = nullptr;
    bool is64BitOs_ = false;
    std::wstring fileNames_[kPathKindCount];
    std::wstring paths_[kPathKindCount];
};

}  // namespace ziz
