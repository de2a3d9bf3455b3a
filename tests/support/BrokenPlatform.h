#pragma once
// Real platform failures a test can switch on for as long as an object lives: no usable
// temporary directory, and a failing module file name query (through its seam).
#include <windows.h>

#include <string>

namespace testsupport {

// Points TMP below a plain file, so no new temporary directory can be made; puts the
// previous value back on destruction.
class UnusableTempDirectory {
public:
    UnusableTempDirectory();
    ~UnusableTempDirectory();
    UnusableTempDirectory(const UnusableTempDirectory&) = delete;
    UnusableTempDirectory& operator=(const UnusableTempDirectory&) = delete;

private:
    std::wstring scratch_;
    std::wstring tmp_;
    bool hadTmp_ = false;
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
