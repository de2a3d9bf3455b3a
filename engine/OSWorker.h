#pragma once
// The one concrete engine: completes Worker with the operations that touch the operating
// system and tells the progress window what happens.
#include <windows.h>

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
    std::wstring GetApplianceScriptPath() override;
    bool GetPath(std::wstring& path, PathKind kind) override;
    bool GetUpdateUrl(std::wstring& url) override;
    bool GetFileName(std::wstring& name, PathKind kind) override;
    bool CreateTempFile(std::wstring& path) override;
    bool LoadEmbeddedSequence(InstallSequence& items) override;
    bool GetFileVersion(std::wstring& version, const std::wstring& path) override;
    bool Is64BitOs() override;

    // Download progress lines go to the setup log.
    void OnStatusText(ULONG progress, ULONG progressMax, const std::wstring& line) override;

private:
    HWND window_ = nullptr;
    bool is64BitOs_ = false;
};

}  // namespace ziz
