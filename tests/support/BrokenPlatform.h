#pragma once
// Real platform failures a test can switch on for as long as an object lives: no usable
// temporary directory, and a failing module file name query (through its seam).
#include <windows.h>

#include "osh/Elevation.h"

#include <string>

namespace testsupport {

// This process answers "not elevated" (Wine's token always is elevated); the previous
// answer comes back on destruction.
class NotElevated {
public:
    NotElevated();
    ~NotElevated();
    NotElevated(const NotElevated&) = delete;
    NotElevated& operator=(const NotElevated&) = delete;

private:
    osh::ElevationQueryFunction previous_;
};

// Points TMP below a plain file, so no new temporary directory can be made; puts the
// previous value back on destruction. Only runs without elevation use that directory (an
// elevated one works in a folder of its own), so this process counts as not elevated
// meanwhile; a child process started meanwhile still is.
class UnusableTempDirectory {
public:
    UnusableTempDirectory();
    ~UnusableTempDirectory();
    UnusableTempDirectory(const UnusableTempDirectory&) = delete;
    UnusableTempDirectory& operator=(const UnusableTempDirectory&) = delete;

private:
    NotElevated notElevated_;
    std::wstring scratch_;
    std::wstring tmp_;
    bool hadTmp_ = false;
};

// Puts a plain file in the place of the system's temporary folder (the folder itself is
// moved aside and moved back on destruction), so an elevated run can make no work folder.
class UnusableSystemTempFolder {
public:
    UnusableSystemTempFolder();
    ~UnusableSystemTempFolder();
    UnusableSystemTempFolder(const UnusableSystemTempFolder&) = delete;
    UnusableSystemTempFolder& operator=(const UnusableSystemTempFolder&) = delete;

    bool Blocked() const { return blocked_; }

private:
    std::wstring folder_;
    std::wstring aside_;
    bool blocked_ = false;
};

// Makes osh::ModuleFileName fail with ERROR_ACCESS_DENIED.
class FailingModuleQuery {
public:
    FailingModuleQuery();
    ~FailingModuleQuery();
    FailingModuleQuery(const FailingModuleQuery&) = delete;
    FailingModuleQuery& operator=(const FailingModuleQuery&) = delete;

private:
    using Function = DWORD(WINAPI*)(HMODULE, LPWSTR, DWORD);
    Function previous_;
};

}  // namespace testsupport
