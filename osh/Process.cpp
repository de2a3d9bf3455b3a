#include "osh/Process.h"

#include "osh/Exception.h"
#include "osh/ScopedHandle.h"
#include "osh/Text.h"

#include <shellapi.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace osh {

namespace {

RunElevatedFunction g_runElevated = nullptr;

struct ChildProcess {
    ScopedHandle process;
    ScopedHandle thread;
};

// False with the system's error when the process could not be created.
bool CreateChild(const std::wstring& commandLine, const std::wstring& directory, ChildProcess& child,
                 DWORD& error)
{
    // CreateProcessW may write into the command line.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        directory.empty() ? nullptr : directory.c_str(), &startup, &info)) {
        error = GetLastError();
        return false;
    }
    child.process.reset(info.hProcess);
    child.thread.reset(info.hThread);
    return true;
}

}  // namespace

DWORD WaitForExitCode(HANDLE process)
{
    switch (WaitForSingleObject(process, INFINITE)) {
    case WAIT_OBJECT_0: {
        DWORD exitCode = 0;
        if (!GetExitCodeProcess(process, &exitCode)) throw win::exception(GetLastError(), "GetExitCodeProcess()");
        return exitCode;
    }
    case WAIT_ABANDONED: throw std::runtime_error("Wait abandoned in WaitForSingleObject()");
    case WAIT_TIMEOUT: throw std::runtime_error("Timeout in WaitForSingleObject()");
    case WAIT_FAILED: throw win::exception(GetLastError(), "WaitForSingleObject()");
    default: throw std::runtime_error("Unknown return code from WaitForSingleObject()");
    }
}

namespace {

// Closes the process handle, then the thread handle; the later failure names the context.
void CloseChild(ChildProcess& child)
{
    const char* context = nullptr;
    DWORD error = ERROR_SUCCESS;
    if (!child.process.reset()) {
        error = GetLastError();
        context = "CloseHandle(hProcess)";
    }
    if (!child.thread.reset()) {
        error = GetLastError();
        context = "CloseHandle(hThread)";
    }
    if (context != nullptr) throw win::exception(error, context);
}

}  // namespace

DWORD RunAndWait(const std::wstring& commandLine, const std::wstring& directory)
{
    ChildProcess child;
    DWORD error = ERROR_SUCCESS;
    if (!CreateChild(commandLine, directory, child, error))
        throw win::exception(error, "CreateProcess(\"" + Narrow(commandLine) + "\")");
    // On an exception here the guards close both handles.
    const DWORD exitCode = WaitForExitCode(child.process.get());
    CloseChild(child);
    return exitCode;
}

bool StartProgram(const std::wstring& commandLine, const std::wstring& directory, bool wait)
{
    ChildProcess child;
    DWORD error = ERROR_SUCCESS;
    if (!CreateChild(commandLine, directory, child, error)) return false;
    if (wait) WaitForSingleObject(child.process.get(), INFINITE);
    return true;
}

bool StartProcess(const std::wstring& commandLine, const std::wstring& directory, ScopedHandle& process)
{
    ChildProcess child;
    DWORD error = ERROR_SUCCESS;
    if (!CreateChild(commandLine, directory, child, error)) {
        SetLastError(error);
        return false;
    }
    process = std::move(child.process);
    return true;
}

bool ShellRun(HWND window, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
              const wchar_t* directory, ScopedHandle* process)
{
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = process != nullptr ? SEE_MASK_NOCLOSEPROCESS : 0;
    info.hwnd = window;
    info.lpVerb = verb;
    info.lpFile = file;
    info.lpParameters = parameters;
    info.lpDirectory = directory;
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info)) return false;
    if (process != nullptr) process->reset(info.hProcess);
    return true;
}

bool RunElevated(HWND window, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                 ScopedHandle* process)
{
    if (g_runElevated != nullptr) return g_runElevated(window, file, parameters, directory, process);
    return ShellRun(window, L"runas", file, parameters, directory, process);
}

RunElevatedFunction SetRunElevatedFunction(RunElevatedFunction function)
{
    return std::exchange(g_runElevated, function);
}

}  // namespace osh
