#include "support/TestEnvironment.h"

#include <shellapi.h>

#include <cstdlib>
#include <stdexcept>

namespace testenv {

std::wstring Widen(const std::string& text)
{
    if (text.empty()) return {};
    int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string Narrow(const std::wstring& text)
{
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring WindowsPathOf(const std::string& unixPath)
{
    std::wstring path = L"Z:" + Widen(unixPath);
    for (auto& c : path) {
        if (c == L'/') c = L'\\';
    }
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

std::string Variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

static std::wstring RequiredDirectory(const char* name)
{
    std::string value = Variable(name);
    if (value.empty()) throw std::runtime_error(std::string(name) + " is not set; run the tests through ctest");
    return WindowsPathOf(value);
}

std::wstring BuildDirectory() { return RequiredDirectory("NORLO_BUILD_DIR"); }

std::wstring SourceDirectory() { return RequiredDirectory("NORLO_SOURCE_DIR"); }

std::wstring SetupExecutable() { return BuildDirectory() + L"\\bin\\Setup.exe"; }

ProcessResult Run(const std::wstring& commandLine, DWORD timeoutMs, const std::wstring& workingDirectory)
{
    ProcessResult result;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring buffer = commandLine;
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup, &process)) {
        result.startError = GetLastError();
        return result;
    }
    result.started = true;
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
        TerminateProcess(process.hProcess, 0xDEAD);
        WaitForSingleObject(process.hProcess, 10000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

std::wstring MakeScratchDirectory(const std::wstring& prefix)
{
    wchar_t temp[MAX_PATH + 1];
    GetTempPathW(MAX_PATH, temp);
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::wstring candidate = std::wstring(temp) + prefix + L"-" + std::to_wstring(GetCurrentProcessId()) +
                                 L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(attempt);
        if (CreateDirectoryW(candidate.c_str(), nullptr)) return candidate;
    }
    throw std::runtime_error("cannot create a scratch directory");
}

void RemoveTree(const std::wstring& path)
{
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            std::wstring child = path + L"\\" + name;
            // A link is never entered nor removed here: Wine's removal would reach its target.
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) continue;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(path.c_str());
}

std::vector<std::wstring> ParsedBack(const std::wstring& commandLine)
{
    int count = 0;
    wchar_t** parsed = CommandLineToArgvW(commandLine.c_str(), &count);
    std::vector<std::wstring> arguments;
    if (parsed == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.push_back(parsed[i]);
    LocalFree(parsed);
    return arguments;
}

}  // namespace testenv
