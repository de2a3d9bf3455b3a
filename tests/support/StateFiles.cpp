#include "support/StateFiles.h"

#include "support/EndToEnd.h"
#include "support/TestEnvironment.h"

#include <winsock2.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

void WriteTextFile(const std::wstring& path, const std::string& content)
{
    std::ofstream out(testenv::Narrow(path), std::ios::binary | std::ios::trunc);
    out << content;
    if (!out) throw std::runtime_error("cannot write " + testenv::Narrow(path));
}

std::string ReadTextFile(const std::wstring& path)
{
    // By the wide path: a narrow one would go through the ANSI code page and miss names in
    // other scripts.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
    CloseHandle(file);
    return text;
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    while (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        if (GetTickCount64() > end) return false;
        Sleep(100);
    }
    return true;
}

int ClosedPort()
{
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    closesocket(s);
    WSACleanup();
    return ntohs(address.sin_port);
}

ServedFolder::ServedFolder(const std::wstring& name)
    : name_(name + L"-" + std::to_wstring(GetCurrentProcessId())), folder_(endtoend::ServedRoot() + L"\\" + name_)
{
    testenv::RemoveTree(folder_);
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) throw std::runtime_error("cannot create " + testenv::Narrow(folder_));
}

ServedFolder::~ServedFolder() { testenv::RemoveTree(folder_); }

std::wstring ServedFolder::Path(const std::wstring& file) const { return folder_ + L"\\" + file; }

std::wstring ServedFolder::Url(const std::wstring& file, const std::wstring& prefix) const
{
    return endtoend::ServerAddress() + L"/" + prefix + name_ + L"/" + file;
}

void ServedFolder::Put(const std::wstring& file, const std::string& content) const { WriteTextFile(Path(file), content); }

void ServedFolder::PutCopy(const std::wstring& file, const std::wstring& source) const
{
    if (!CopyFileW(source.c_str(), Path(file).c_str(), FALSE)) {
        throw std::runtime_error("cannot copy " + testenv::Narrow(source));
    }
}

}  // namespace testsupport
