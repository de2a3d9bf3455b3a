#include "support/VendorConfigFile.h"

#include "support/TestEnvironment.h"

#include <windows.h>
#include <shlobj.h>

#include <stdexcept>

namespace testenv {

std::wstring ProductDataDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) {
        throw std::runtime_error("no common application-data folder");
    }
    return std::wstring(buffer) + L"\\Norlo 5";
}

VendorConfigFile::VendorConfigFile(const std::string& content)
{
    std::wstring directory = ProductDataDirectory();
    if (CreateDirectoryW(directory.c_str(), nullptr)) createdDirectory_ = directory;
    path_ = directory + L"\\.vendor.config";
    HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write the override file");
    DWORD written = 0;
    BOOL ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != content.size()) throw std::runtime_error("cannot write the override file");
}

VendorConfigFile::~VendorConfigFile()
{
    DeleteFileW(path_.c_str());
    if (!createdDirectory_.empty()) RemoveDirectoryW(createdDirectory_.c_str());
}

std::string ReadFileBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

std::string DataPathLine(const std::wstring& directory)
{
    std::string escaped;
    for (char c : Narrow(directory)) {
        if (c == '\\') escaped += '\\';
        escaped += c;
    }
    return "product.data.pathname=" + escaped + "\n";
}

}  // namespace testenv
