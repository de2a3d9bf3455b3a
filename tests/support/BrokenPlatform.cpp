#include "support/BrokenPlatform.h"

#include "osh/SystemInfo.h"
#include "support/TestEnvironment.h"

#include <fstream>
#include <vector>

namespace testsupport {

namespace {

bool ReadVariable(const wchar_t* name, std::wstring& value)
{
    std::vector<wchar_t> buffer(32767, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    value.assign(buffer.data(), length);
    return length > 0;
}

DWORD WINAPI DenyModuleFileName(HMODULE, LPWSTR, DWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

HRESULT AnswerNotElevated(bool* elevated)
{
    if (elevated != nullptr) *elevated = false;
    return 1;
}

}  // namespace

NotElevated::NotElevated() : previous_(osh::SetElevationQueryFunction(&AnswerNotElevated)) {}

NotElevated::~NotElevated() { osh::SetElevationQueryFunction(previous_); }

UnusableSystemTempFolder::UnusableSystemTempFolder()
{
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    folder_ = std::wstring(windows) + L"\\Temp";
    aside_ = folder_ + L"-held-by-test";
    if (!MoveFileW(folder_.c_str(), aside_.c_str())) return;
    std::ofstream(folder_.c_str()) << "in the way";
    blocked_ = GetFileAttributesW(folder_.c_str()) != INVALID_FILE_ATTRIBUTES;
}

UnusableSystemTempFolder::~UnusableSystemTempFolder()
{
    DeleteFileW(folder_.c_str());
    MoveFileW(aside_.c_str(), folder_.c_str());
}

UnusableTempDirectory::UnusableTempDirectory()
{
    scratch_ = testenv::MakeScratchDirectory(L"notmp");
    const std::wstring blocker = scratch_ + L"\\file";
    std::ofstream(blocker.c_str()) << "in the way";
    hadTmp_ = ReadVariable(L"TMP", tmp_);
    SetEnvironmentVariableW(L"TMP", (blocker + L"\\temp").c_str());
}

UnusableTempDirectory::~UnusableTempDirectory()
{
    SetEnvironmentVariableW(L"TMP", hadTmp_ ? tmp_.c_str() : nullptr);
    testenv::RemoveTree(scratch_);
}

FailingModuleQuery::FailingModuleQuery() : previous_(osh::SetModuleFileNameFunction(&DenyModuleFileName)) {}

FailingModuleQuery::~FailingModuleQuery() { osh::SetModuleFileNameFunction(previous_); }

}  // namespace testsupport
