#include "support/StateTestFiles.h"

#include "support/TestEnvironment.h"

#include <cstdio>
#include <stdexcept>

namespace statetest {

std::wstring StandInProgram() { return testenv::BuildDirectory() + L"\\tests\\WindowedStandInHelper.exe"; }

void MakeFolders(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 2) MakeFolders(path.substr(0, slash));
    CreateDirectoryW(path.c_str(), nullptr);
}

void PlaceStandIn(const std::wstring& path)
{
    MakeFolders(path.substr(0, path.find_last_of(L'\\')));
    if (!CopyFileW(StandInProgram().c_str(), path.c_str(), FALSE))
        throw std::runtime_error("test set-up: cannot copy the stand-in to " + testenv::Narrow(path));
    DeleteFileW((path + L".log").c_str());
    DeleteFileW((path + L".exitcode").c_str());
}

std::vector<std::string> RecordedLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    FILE* file = _wfopen((path + L".log").c_str(), L"rb");
    if (file == nullptr) return lines;
    std::string text;
    char buffer[4096];
    for (size_t read; (read = fread(buffer, 1, sizeof(buffer), file)) > 0;) text.append(buffer, read);
    fclose(file);
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

void SetStandInExitCode(const std::wstring& path, int code) { WriteTextFile(path + L".exitcode", std::to_string(code)); }

void WriteTextFile(const std::wstring& path, const std::string& text)
{
    MakeFolders(path.substr(0, path.find_last_of(L'\\')));
    FILE* file = _wfopen(path.c_str(), L"wb");
    const bool written = file != nullptr && fwrite(text.data(), 1, text.size(), file) == text.size();
    if (file != nullptr) fclose(file);
    if (!written) throw std::runtime_error("test set-up: cannot write " + testenv::Narrow(path));
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

WindowedStandIn::WindowedStandIn(const std::wstring& path, const std::wstring& title, bool hung)
{
    std::wstring commandLine = Quoted(path) + (hung ? L" --hung " : L" --window ") + title;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_))
        throw std::runtime_error("test set-up: cannot start " + testenv::Narrow(path));
    for (int i = 0; i < 500 && !ready_; ++i) {
        const auto lines = RecordedLines(path);
        ready_ = !lines.empty() && lines.front() == "ready";
        if (!ready_) Sleep(20);
    }
}

WindowedStandIn::~WindowedStandIn()
{
    if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 1);
        WaitForSingleObject(info_.hProcess, 5000);
    }
    CloseHandle(info_.hThread);
    CloseHandle(info_.hProcess);
}

bool WindowedStandIn::WaitForExit(DWORD timeoutMs) { return WaitForSingleObject(info_.hProcess, timeoutMs) == WAIT_OBJECT_0; }

}  // namespace statetest
