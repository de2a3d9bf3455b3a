#include "support/EndToEnd.h"

#include "support/StateFiles.h"
#include "support/TestEnvironment.h"

#include "config/LayeredConfiguration.h"
#include "engine/FileVersion.h"
#include "osh/ScopedHandle.h"

#include <wincrypt.h>

#include <stdexcept>

#include <gtest/gtest.h>

namespace endtoend {
namespace {

std::wstring Join(const std::wstring& directory, const std::wstring& name)
{
    if (!directory.empty() && directory.back() == L'\\') return directory + name;
    return directory + L"\\" + name;
}

std::string RequiredVariable(const char* name)
{
    std::string value = testenv::Variable(name);
    if (value.empty()) {
        throw std::runtime_error(std::string(name) + " is not set; the harness starts the test HTTP server");
    }
    return value;
}

osh::ScopedFile OpenForReading(const std::wstring& path)
{
    // The product may still hold its log open for writing.
    return osh::ScopedFile(CreateFileW(path.c_str(), GENERIC_READ,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadWholeFile(const std::wstring& path)
{
    osh::ScopedFile file = OpenForReading(path);
    if (!file) return {};
    std::string content;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        content.append(buffer, read);
    }
    return content;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::wstring RequestLogPath()
{
    // The server keeps its request log beside the served folder.
    std::wstring root = ServedRoot();
    return root.substr(0, root.find_last_of(L'\\')) + L"\\www-requests.log";
}

osh::ScopedKey OpenStoreGroup(HKEY hive, const std::wstring& group, REGSAM access)
{
    HKEY key = nullptr;
    const std::wstring path = L"SOFTWARE\\Norlo\\Norlo 5\\" + group;
    if (RegOpenKeyExW(hive, path.c_str(), 0, access, &key) != ERROR_SUCCESS) return osh::ScopedKey();
    return osh::ScopedKey(key);
}

}  // namespace

std::wstring ReleaseDirectory() { return Join(testenv::BuildDirectory(), L"release"); }

std::wstring ReleaseFile(const std::wstring& name) { return Join(Join(ReleaseDirectory(), L"files"), name); }

std::wstring ReleaseDocument(const std::wstring& name)
{
    return Join(Join(ReleaseDirectory(), L"documents"), name);
}

std::wstring PublishedTree() { return Join(ReleaseDirectory(), L"www"); }

std::wstring ServedRoot() { return testenv::WindowsPathOf(RequiredVariable("NORLO_HTTP_ROOT")); }

std::wstring ServerAddress() { return L"http://127.0.0.1:" + testenv::Widen(RequiredVariable("NORLO_HTTP_PORT")); }

void CopyTree(const std::wstring& source, const std::wstring& target)
{
    if (!CreateDirectoryW(target.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        throw std::runtime_error("cannot create " + testenv::Narrow(target));
    }
    WIN32_FIND_DATAW data;
    osh::ScopedFind find(FindFirstFileW(Join(source, L"*").c_str(), &data));
    if (!find) throw std::runtime_error("cannot list " + testenv::Narrow(source));
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CopyTree(Join(source, name), Join(target, name));
        } else if (!CopyFileW(Join(source, name).c_str(), Join(target, name).c_str(), FALSE)) {
            throw std::runtime_error("cannot copy " + testenv::Narrow(Join(source, name)) + " to " +
                                     testenv::Narrow(Join(target, name)));
        }
    } while (FindNextFileW(find.get(), &data));
}

void LayOutRelease()
{
    CleanRelease();
    CopyTree(PublishedTree(), ServedRoot());
}

void CleanRelease()
{
    const std::wstring published = PublishedTree();
    const std::wstring served = ServedRoot();
    WIN32_FIND_DATAW data;
    osh::ScopedFind find(FindFirstFileW(Join(published, L"*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            testenv::RemoveTree(Join(served, name));
        } else {
            DeleteFileW(Join(served, name).c_str());
        }
    } while (FindNextFileW(find.get(), &data));
}

DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs,
                 const std::wstring& workingDirectory)
{
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    const testenv::ProcessResult result = testenv::Run(commandLine, timeoutMs, workingDirectory);
    if (!result.started)
        throw std::runtime_error("cannot start " + testenv::Narrow(commandLine) + " (error " +
                                 std::to_string(result.startError) + ")");
    if (!result.finished) throw std::runtime_error("did not end in time: " + testenv::Narrow(commandLine));
    return result.exitCode;
}

DWORD RunSetup(const std::wstring& arguments, DWORD timeoutMs)
{
    return RunProgram(testenv::SetupExecutable(), arguments, timeoutMs);
}

bool ReadStoreValue(const std::wstring& group, const std::wstring& name, std::wstring& out, HKEY hive,
                    REGSAM view)
{
    out.clear();
    osh::ScopedKey key = OpenStoreGroup(hive, group, KEY_QUERY_VALUE | view);
    if (!key) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    std::wstring buffer(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &size) != ERROR_SUCCESS) {
        return false;
    }
    out = buffer.c_str();
    return true;
}

std::vector<std::wstring> StoreValueNames(const std::wstring& group, HKEY hive, REGSAM view)
{
    std::vector<std::wstring> names;
    osh::ScopedKey key = OpenStoreGroup(hive, group, KEY_QUERY_VALUE | view);
    if (!key) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[16384];
        DWORD length = ARRAYSIZE(name);
        if (RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, length);
    }
    return names;
}

void UninstallWhatRunsLeft()
{
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        for (const std::wstring& name : StoreValueNames(L"uninstall", HKEY_LOCAL_MACHINE, view)) {
            std::wstring command;
            if (ReadStoreValue(L"uninstall", name, command, HKEY_LOCAL_MACHINE, view)) testenv::Run(command, 120000);
        }
    }
}

std::wstring SetupLogPath()
{
    const std::string data = Norlo::Config::LayeredConfiguration().getString("product.data.pathname");
    return testenv::Widen(data) + L"\\log\\setup.log";
}

std::vector<std::string> LastLogLines(size_t count)
{
    std::vector<std::string> lines = SplitLines(ReadWholeFile(SetupLogPath()));
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
    return lines;
}

std::vector<std::string> LastRunLines()
{
    const auto lines = LastLogLines(600);
    size_t start = 0;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].find(":Microsoft Windows") != std::string::npos) start = i;
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(start), lines.end());
}

std::vector<std::string> ServerRequests() { return SplitLines(ReadWholeFile(RequestLogPath())); }

void ClearServerRequests()
{
    osh::ScopedFile file(CreateFileW(RequestLogPath().c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string FileMd5(const std::wstring& path)
{
    osh::ScopedFile file = OpenForReading(path);
    if (!file) throw std::runtime_error("cannot open " + testenv::Narrow(path));
    HCRYPTPROV rawProvider = 0;
    if (!CryptAcquireContextW(&rawProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        throw std::runtime_error("CryptAcquireContext failed");
    }
    osh::ScopedCryptProvider provider(rawProvider);
    HCRYPTHASH rawHash = 0;
    if (!CryptCreateHash(provider.get(), CALG_MD5, 0, 0, &rawHash)) throw std::runtime_error("CryptCreateHash failed");
    osh::ScopedCryptHash hash(rawHash);
    BYTE buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        if (!CryptHashData(hash.get(), buffer, read, 0)) throw std::runtime_error("CryptHashData failed");
    }
    BYTE digest[16];
    DWORD size = sizeof(digest);
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &size, 0)) {
        throw std::runtime_error("CryptGetHashParam failed");
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (BYTE byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::wstring SetupVersion()
{
    std::wstring version;
    EXPECT_TRUE(ziz::ReadFileVersion(version, testenv::SetupExecutable()));
    return version;
}

void Replace(std::string& text, const std::string& from, const std::string& to)
{
    const size_t at = text.find(from);
    ASSERT_NE(std::string::npos, at) << from;
    text.replace(at, from.size(), to);
}

std::string PublishedUpdate() { return testsupport::ReadTextFile(ReleaseDocument(L"update.xml")); }
std::wstring ServedUpdate() { return ServedRoot() + L"\\update.xml"; }
void Publish(const std::string& document) { testsupport::WriteTextFile(ServedUpdate(), document); }

}  // namespace endtoend
