#pragma once
// End-to-end test support: the sample release the build made (tests/release), the test
// HTTP server that serves it, runs of the product executable, and what a run leaves
// behind (key-store values, setup log lines, requests that reached the server).
#include <windows.h>

#include <string>
#include <vector>

namespace endtoend {

// Folders of the sample release below the build tree.
std::wstring ReleaseDirectory();                      // <build>\release
std::wstring ReleaseFile(const std::wstring& name);   // <build>\release\files\<name>
std::wstring ReleaseDocument(const std::wstring& name);  // <build>\release\documents\<name>
std::wstring PublishedTree();                         // <build>\release\www

// The folder the test HTTP server serves (NORLO_HTTP_ROOT); throws when the harness did
// not start one.
std::wstring ServedRoot();

// The server's base address, "http://127.0.0.1:<NORLO_HTTP_PORT>"; throws when unset.
std::wstring ServerAddress();

// Copies the published tree (the files under the URL paths the documents name, and
// update.xml) into the served folder, replacing what is there.
void LayOutRelease();

// Removes what LayOutRelease placed in the served folder.
void CleanRelease();

// Copies every file below source into target, creating folders; throws on failure.
void CopyTree(const std::wstring& source, const std::wstring& target);

// Runs the product executable (or another program) with arguments and waits at most
// timeoutMs. Returns the exit code; throws when it cannot be started or does not end
// in time (it is then terminated).
DWORD RunSetup(const std::wstring& arguments, DWORD timeoutMs = 180000);
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments, DWORD timeoutMs = 180000,
                 const std::wstring& workingDirectory = L"");

// A REG_SZ value of the key store, "SOFTWARE\Norlo\Norlo 5\<group>" in the 64-bit view
// of hive (view KEY_WOW64_32KEY reads the 32-bit view). False when missing.
bool ReadStoreValue(const std::wstring& group, const std::wstring& name, std::wstring& out,
                    HKEY hive = HKEY_LOCAL_MACHINE, REGSAM view = KEY_WOW64_64KEY);

// Names of all values of a key-store group (empty when the group is missing).
std::vector<std::wstring> StoreValueNames(const std::wstring& group, HKEY hive = HKEY_LOCAL_MACHINE,
                                          REGSAM view = KEY_WOW64_64KEY);

// Runs the uninstall command every installed package registered in the key store, in both
// registry views, so a test leaves nothing installed for the next one.
void UninstallWhatRunsLeft();

// The setup log the product writes ("setup.log" in the "log" folder of its data folder).
std::wstring SetupLogPath();

// The last count lines of the setup log (fewer when it is shorter; none when it is missing).
std::vector<std::string> LastLogLines(size_t count);

// The lines the last run wrote (every run's engine logs the system's name first).
std::vector<std::string> LastRunLines();

// Request paths the test server logged, oldest first (none when the log is missing).
std::vector<std::string> ServerRequests();

// Empties the server's request log, so a test sees only its own requests.
void ClearServerRequests();

// MD5 of a file as 32 lower-case hexadecimal digits, computed here independently of the
// product's own digest code.
std::string FileMd5(const std::wstring& path);

// The version of the Setup.exe under test.
std::wstring SetupVersion();

// Replaces the first occurrence of from, which must be there.
void Replace(std::string& text, const std::string& from, const std::string& to);

// The update document the release tool wrote, and publishing one on the test server.
std::string PublishedUpdate();
std::wstring ServedUpdate();
void Publish(const std::string& document);

}  // namespace endtoend
