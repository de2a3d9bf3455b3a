#pragma once
// Files for the state tests: text files in scratch folders, a folder of the test HTTP
// server's served tree that a test owns, and waiting for a file a child process writes.
#include <windows.h>

#include <string>

namespace testsupport {

void WriteTextFile(const std::wstring& path, const std::string& content);
// Empty when the file is missing.
std::string ReadTextFile(const std::wstring& path);
// Polls until the file exists; false when it did not appear within timeoutMs.
bool WaitForFile(const std::wstring& path, DWORD timeoutMs);
// A port on 127.0.0.1 that nobody listens on.
int ClosedPort();

// A folder below the served root, named after the test; removed with its content when
// the object goes.
class ServedFolder {
public:
    explicit ServedFolder(const std::wstring& name);
    ~ServedFolder();
    ServedFolder(const ServedFolder&) = delete;
    ServedFolder& operator=(const ServedFolder&) = delete;

    std::wstring Path(const std::wstring& file) const;
    // The address of a file; prefix is a fault-injection prefix of the server ("404/").
    std::wstring Url(const std::wstring& file, const std::wstring& prefix = L"") const;
    void Put(const std::wstring& file, const std::string& content) const;
    void PutCopy(const std::wstring& file, const std::wstring& source) const;

private:
    std::wstring name_;
    std::wstring folder_;
};

}  // namespace testsupport
