// The product executable under Wine when things go wrong around it: a full drive under
// the setup-files folder, files it may not replace or that another process holds open,
// hostile update documents, and names that differ only in letter case. Every run must
// end with its exit code, a log line that says what happened, and every file it did not
// mean to touch unchanged.
#include "support/EndToEnd.h"
#include "support/StateFiles.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"

#include "engine/FileVersion.h"
#include "osh/ScopedHandle.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using testenv::Narrow;
using testsupport::ReadTextFile;
using testsupport::WriteTextFile;

const std::wstring kRelease = L"5.0.1038.10828";
const DWORD kFailed = 0xFFFFFFFF;
const std::wstring kPackage = L"norlo5-custom-" + kRelease + L"__PRE.msi";  // first, 10 KiB
const std::wstring kRedistributable = L"vcredist_x64.exe";                   // second, 104 KiB
const std::vector<std::wstring> kX64Components = {
    kPackage, kRedistributable, L"norlo5-runtimes-x64-5.0.msi", L"norlo5-viewer-x64-" + kRelease + L".msi",
    L"norlo5-services-x64-" + kRelease + L".msi"};

std::wstring Environment(const wchar_t* name)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return std::wstring(buffer, length);
}

std::wstring DataFolder() { return Environment(L"ProgramData") + L"\\Norlo 5"; }
std::wstring SetupFiles() { return DataFolder() + L"\\SetupFiles"; }
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

using endtoend::Publish;
using endtoend::PublishedUpdate;
using endtoend::Replace;
using endtoend::ServedUpdate;
using endtoend::SetupVersion;

// The published document announcing the running version: no hand-over, so the process
// under test does the whole run itself.
std::string UpdateForThisVersion()
{
    std::string document = PublishedUpdate();
    Replace(document, "<version>" + Narrow(kRelease) + "</version>", "<version>" + Narrow(SetupVersion()) + "</version>");
    return document;
}

// Names of the files in a folder, as the file system spells them.
std::vector<std::wstring> FileNames(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    osh::ScopedFind find(FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return names;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.push_back(data.cFileName);
    } while (FindNextFileW(find.get(), &data));
    std::sort(names.begin(), names.end());
    return names;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override
    {
        testenv::RemoveTree(SetupFiles());
        endtoend::LayOutRelease();
        Publish(UpdateForThisVersion());
        endtoend::ClearServerRequests();
        logStart_ = endtoend::LastLogLines(100000000).size();
    }
    void TearDown() override
    {
        endtoend::CleanRelease();
        testenv::RemoveTree(SetupFiles());
    }
    std::vector<std::string> RunLog() const
    {
        std::vector<std::string> lines = endtoend::LastLogLines(100000000);
        if (lines.size() < logStart_) return lines;  // rotated
        return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(logStart_), lines.end());
    }
    // Index of the first line of this test's runs holding every fragment, or -1.
    int LineWith(const std::vector<std::string>& fragments) const
    {
        const std::vector<std::string> lines = RunLog();
        for (size_t i = 0; i < lines.size(); ++i) {
            bool all = true;
            for (const std::string& fragment : fragments) all = all && lines[i].find(fragment) != std::string::npos;
            if (all) return static_cast<int>(i);
        }
        return -1;
    }
    int LineWith(const std::string& text) const { return LineWith(std::vector<std::string>{text}); }
    std::string LogText() const
    {
        std::string text;
        for (const std::string& line : RunLog()) text += line + "\n";
        return text;
    }
    void StartNewRun() { logStart_ = endtoend::LastLogLines(100000000).size(); }
    static std::string Md5Of(const std::wstring& path) { return Exists(path) ? endtoend::FileMd5(path) : ""; }
    static void PutIntact(const std::wstring& name)
    {
        CreateDirectoryW(DataFolder().c_str(), nullptr);
        CreateDirectoryW(SetupFiles().c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(name).c_str(), (SetupFiles() + L"\\" + name).c_str(), FALSE));
    }

    size_t logStart_ = 0;
    testsupport::SavedStoreValue newestVersion_{L"Setup", L"NewestVersion"};
    testsupport::SavedStoreValue newestPath_{L"Setup", L"NewestPath"};
    testsupport::SavedStoreValue updateUrl_{L"Setup", L"updateURL"};
};

// ---------------------------------------------------------------------------------------
// The setup-files folder on a nearly full drive (a tmpfs the CTest fixture mounts as K:).

class FullDrive : public Faults {
protected:
    void SetUp() override
    {
        if (GetDriveTypeW(L"K:\\") == DRIVE_NO_ROOT_DIR)
            GTEST_SKIP() << "the small drive K: is not mounted (the fixture could not mount a tmpfs here)";
        Faults::SetUp();
        redirected_ = true;
        ASSERT_TRUE(Redirect(L"on", true)) << "the setup-files folder is not on the small drive";
    }
    void TearDown() override
    {
        if (!redirected_) return;
        testenv::RemoveTree(SetupFiles());
        EXPECT_TRUE(Redirect(L"off", false)) << "the setup-files folder is still on the small drive";
        Faults::TearDown();
    }
    static bool OnSmallDrive()
    {
        ULARGE_INTEGER total{};
        return GetDiskFreeSpaceExW(SetupFiles().c_str(), nullptr, &total, nullptr) && total.QuadPart < 1024u * 1024u;
    }
    // Wine runs Unix programs directly: the redirection is a symbolic link in the prefix,
    // which only the Unix side can make. Its exit code does not come back through Wine,
    // so the outcome is read from the drive the folder lies on.
    static bool Redirect(const std::wstring& action, bool wanted)
    {
        const std::wstring script = testenv::Widen(testenv::Variable("NORLO_SOURCE_DIR")) + L"/tests/harness/setupfiles-redirect.sh";
        const std::wstring harness = testenv::Widen(testenv::Variable("NORLO_BUILD_DIR")) + L"/harness";
        testenv::Run(L"Z:\\bin\\bash \"" + script + L"\" \"" + harness + L"\" " + action, 60000);
        for (int i = 0; i < 200 && OnSmallDrive() != wanted; ++i) Sleep(50);
        return OnSmallDrive() == wanted;
    }
    bool redirected_ = false;
};

// The sizes the install sequence names are weighed against the drive before the first
// transfer: nothing is requested, nothing written, and the run says why.
TEST_F(FullDrive, DownloadThatDoesNotFitFailsBeforeAnyTransferNamingTheSpaceAndKeepsWhatWasThere)
{
    PutIntact(kPackage);
    const std::string before = Md5Of(SetupFiles() + L"\\" + kPackage);
    ULARGE_INTEGER freeBytes{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(SetupFiles().c_str(), &freeBytes, nullptr, nullptr));
    const std::wstring results = testenv::MakeScratchDirectory(L"faults-result");
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/download /silent /result=" + results + L"\\result.json"));

    const int shortage = LineWith({":setup:E:Not enough space on ", " for the components: ",
                                   " bytes needed, " + std::to_string(freeBytes.QuadPart) + " bytes free"});
    ASSERT_GE(shortage, 0) << LogText();
    // What is needed covers the redistributable and the margin kept beyond the components.
    const std::string line = RunLog()[static_cast<size_t>(shortage)];
    const size_t colon = line.find("components: ") + 12;
    const unsigned long long needed = std::stoull(line.substr(colon));
    EXPECT_GT(needed, 16ull * 1024 * 1024 + 104 * 1024) << line;
    EXPECT_LT(needed, 32ull * 1024 * 1024) << line;
    EXPECT_GT(LineWith("Software process complete, failure detected."), shortage);
    // Not one component was asked for, and the failure reason of the result file is that line.
    for (const std::string& request : endtoend::ServerRequests()) {
        for (const std::wstring& name : kX64Components)
            EXPECT_EQ(std::string::npos, request.find(Narrow(name))) << request;
    }
    const std::string result = ReadTextFile(results + L"\\result.json");
    testenv::RemoveTree(results);
    const std::string reasonStart = "\"failureReason\":\"Not enough space on ";
    const size_t reason = result.find(reasonStart);
    ASSERT_NE(std::string::npos, reason) << result;
    const size_t escapedDrive = 4;  // X:\ with its backslash escaped
    EXPECT_EQ(reason + reasonStart.size() + escapedDrive,
              result.find(line.substr(line.find(" for the components: ")) + "\"", reason)) << result;
    EXPECT_EQ(before, Md5Of(SetupFiles() + L"\\" + kPackage));
    EXPECT_EQ(std::vector<std::wstring>{kPackage}, FileNames(SetupFiles()));
}

// An appliance medium on the nearly full drive: refused before anything is written to it.
class SmallMedium : public Faults {
protected:
    void SetUp() override
    {
        if (GetDriveTypeW(L"K:\\") == DRIVE_NO_ROOT_DIR)
            GTEST_SKIP() << "the small drive K: is not mounted (the fixture could not mount a tmpfs here)";
        Faults::SetUp();
        testenv::RemoveTree(kTarget);
        ASSERT_TRUE(CreateDirectoryW(kTarget.c_str(), nullptr));
    }
    void TearDown() override
    {
        testenv::RemoveTree(kTarget);
        Faults::TearDown();
    }
    const std::wstring kTarget = L"K:\\medium";
};

TEST_F(SmallMedium, MediumTooSmallFailsBeforeTheFirstByteNamingTargetNeedAndSpace)
{
    WriteTextFile(kTarget + L"\\notes.txt", "the technician's notes");
    ULARGE_INTEGER freeBytes{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(kTarget.c_str(), &freeBytes, nullptr, nullptr));
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/appliance=" + kTarget + L" /silent"));
    const int shortage = LineWith({":setup:E:Not enough space on " + Narrow(kTarget) + " for the components: ",
                                   " bytes needed, " + std::to_string(freeBytes.QuadPart) + " bytes free"});
    ASSERT_GE(shortage, 0) << LogText();
    const std::string line = RunLog()[static_cast<size_t>(shortage)];
    const unsigned long long needed = std::stoull(line.substr(line.find("components: ") + 12));
    EXPECT_GT(needed, 16ull * 1024 * 1024) << line;  // the components and the margin
    // Nothing on the medium changed: no folders, no files, the appliance program never ran.
    EXPECT_EQ(std::vector<std::wstring>{L"notes.txt"}, FileNames(kTarget));
    EXPECT_FALSE(Exists(kTarget + L"\\Norlo"));
    EXPECT_EQ(-1, LineWith("Copied to the medium: "));
    EXPECT_EQ(-1, LineWith("Executing command: "));
}

// ---------------------------------------------------------------------------------------
// Setup files the run may not replace.

using LockedFiles = Faults;

TEST_F(LockedFiles, ReadOnlyStaleComponentFailsTheRunAndStaysAsItWas)
{
    PutIntact(kPackage);
    const std::wstring stale = SetupFiles() + L"\\" + kRedistributable;
    WriteTextFile(stale, "an older redistributable");
    ASSERT_TRUE(SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_READONLY));

    const std::wstring results = testenv::MakeScratchDirectory(L"faults-result");
    const DWORD exitCode = endtoend::RunSetup(L"/download /silent /result=" + results + L"\\result.json");
    SetFileAttributesW(stale.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(kFailed, exitCode);
    EXPECT_GE(LineWith({":setup:E:Cannot replace \"" + Narrow(stale) + "\": "}), 0) << LogText();
    EXPECT_GE(LineWith("Software process complete, failure detected."), 0);
    // The deployment tool's view: the intact package was reused, the stale one failed, and why.
    const std::string result = ReadTextFile(results + L"\\result.json");
    testenv::RemoveTree(results);
    EXPECT_EQ(0u, result.find("{\"mode\":\"DOWNLOAD\",\"outcome\":\"failed\",\"exitCode\":-1,"
                              "\"restartRequired\":false,\"failureReason\":\"")) << result;
    EXPECT_NE(std::string::npos, result.find("Cannot replace")) << result;
    EXPECT_NE(std::string::npos, result.find("{\"file\":\"" + Narrow(kPackage) + "\",\"action\":\"reused\"}")) << result;
    EXPECT_NE(std::string::npos, result.find("{\"file\":\"" + Narrow(kRedistributable) + "\",\"action\":\"failed\""))
        << result;
    const std::vector<std::string> lines = RunLog();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(std::string::npos,
              lines.back().find(":setup:I:Setup ended, mode DOWNLOAD, outcome failed, exit code -1, restart needed no"))
        << lines.back();
    EXPECT_TRUE(ReadTextFile(stale) == "an older redistributable");
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(kPackage)), Md5Of(SetupFiles() + L"\\" + kPackage));
}

TEST_F(LockedFiles, ComponentHeldOpenByAnotherProcessFailsTheRunUntouched)
{
    PutIntact(kPackage);
    const std::wstring held = SetupFiles() + L"\\" + kRedistributable;
    WriteTextFile(held, "another program is writing this");
    DWORD exitCode = 0;
    {
        // No sharing at all: the product can neither read nor replace it.
        osh::ScopedFile open(CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(open);
        exitCode = endtoend::RunSetup(L"/download /silent");
    }
    EXPECT_EQ(kFailed, exitCode);
    EXPECT_GE(LineWith({":setup:E:Cannot replace \"" + Narrow(held) + "\": "}), 0) << LogText();
    EXPECT_GE(LineWith("Software process complete, failure detected."), 0);
    EXPECT_TRUE(ReadTextFile(held) == "another program is writing this");
    EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(kPackage)), Md5Of(SetupFiles() + L"\\" + kPackage));
}

// ---------------------------------------------------------------------------------------
// Hostile update documents: a check fails with a line saying why, and nothing is newer.

using HostileDocument = Faults;

TEST_F(HostileDocument, HundredsOfMegabytesAreRefusedWithoutReadingThemIn)
{
    const LONGLONG size = 300ll * 1024 * 1024;
    {
        // A sparse file: the server streams zeros; the product must not hold it in memory.
        osh::ScopedFile file(CreateFileW(ServedUpdate().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        const char head[] = "<?xml version=\"1.0\"?><Installer><bootstrapper><Item><version>99.0</version>";
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), head, sizeof(head) - 1, &written, nullptr));
        LARGE_INTEGER end{};
        end.QuadPart = size;
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent", 280000));
    EXPECT_GE(LineWith("Sequence file too large (" + std::to_string(size) + " bytes"), 0) << LogText();
    const int line = LineWith("Could not load file ");
    EXPECT_GE(line, 0);
    std::wstring stored;
    if (endtoend::ReadStoreValue(L"Setup", L"NewestVersion", stored)) {
        EXPECT_NE(L"99.0", stored);
    }
    // The run's temporary copy and the system's cached copy are not needed any more.
    DeleteUrlCacheEntryW((endtoend::ServerAddress() + L"/update.xml").c_str());
    if (line >= 0) {
        const std::string text = RunLog()[static_cast<size_t>(line)];
        const std::string copy = text.substr(text.find("Could not load file ") + 20);
        DeleteFileW(testenv::Widen(copy).c_str());
    }
}

TEST_F(HostileDocument, DeepNestingIsRefusedBeforeParsing)
{
    std::string document = "<?xml version=\"1.0\"?><Installer><bootstrapper><Item><version>99.0</version>";
    const int depth = 200000;
    for (int i = 0; i < depth; ++i) document += "<a>";
    for (int i = 0; i < depth; ++i) document += "</a>";
    document += "</Item></bootstrapper></Installer>";
    Publish(document);
    EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent"));
    EXPECT_GE(LineWith("XML: Document nested deeper than "), 0) << LogText();
    EXPECT_GE(LineWith("Could not load bootstrapper sequence from "), 0);
}

TEST_F(HostileDocument, UnreadableVersionsAndOrdersAreNeverNewer)
{
    // The real bootstrapper item with a garbage order, a huge attribute count and a
    // version that is larger than any running one only if read carelessly.
    const std::vector<std::string> versions = {"5.0.1038.99999999999999999999999", "5.x.1038.10828", "99.-1",
                                               "99..0", ""};
    for (const std::string& version : versions) {
        std::string document = PublishedUpdate();
        Replace(document, "<version>" + Narrow(kRelease) + "</version>", "<version>" + version + "</version>");
        std::string attributes;
        for (int i = 0; i < 100000; ++i) attributes += " a" + std::to_string(i) + "=\"" + std::to_string(i) + "\"";
        Replace(document, "<bootstrapper><Item Order=\"0\">",
                "<bootstrapper><Item Order=\"zero" + std::string(64, '9') + "\"" + attributes + ">");
        Publish(document);
        StartNewRun();
        EXPECT_EQ(kFailed, endtoend::RunSetup(L"/check /silent")) << version;
        EXPECT_GE(LineWith({"Bootstrapper item has an unreadable version \"" + version + "\""}), 0)
            << version << "\n" << LogText();
        std::wstring stored;
        if (endtoend::ReadStoreValue(L"Setup", L"NewestVersion", stored)) {
            EXPECT_NE(testenv::Widen(version), stored);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Names that differ only in letter case from what is already in the setup-files folder.

using LetterCase = Faults;

TEST_F(LetterCase, ComponentSpelledDifferentlyIsReusedOrReplacedInPlace)
{
    PutIntact(kPackage);
    CreateDirectoryW(SetupFiles().c_str(), nullptr);
    // Intact under another spelling: reused. Stale under another spelling: replaced, once.
    const std::wstring intactUpper = L"NORLO5-RUNTIMES-X64-5.0.MSI";
    ASSERT_TRUE(CopyFileW(endtoend::ReleaseFile(kX64Components[2]).c_str(), (SetupFiles() + L"\\" + intactUpper).c_str(),
                          FALSE));
    const std::wstring staleUpper = L"VCREDIST_X64.EXE";
    WriteTextFile(SetupFiles() + L"\\" + staleUpper, "stale");

    EXPECT_EQ(0u, endtoend::RunSetup(L"/download /silent"));
    const std::vector<std::string> requests = endtoend::ServerRequests();
    auto requested = [&](const std::wstring& name) {
        return std::any_of(requests.begin(), requests.end(),
                           [&](const std::string& r) { return r.find(Narrow(name)) != std::string::npos; });
    };
    EXPECT_FALSE(requested(kX64Components[2]));
    EXPECT_TRUE(requested(kRedistributable));

    // One file per component, whatever its spelling, each intact.
    const std::vector<std::wstring> names = FileNames(SetupFiles());
    for (const std::wstring& component : kX64Components) {
        const auto same = [&](const std::wstring& name) { return lstrcmpiW(name.c_str(), component.c_str()) == 0; };
        EXPECT_EQ(1, std::count_if(names.begin(), names.end(), same)) << Narrow(component);
        EXPECT_EQ(endtoend::FileMd5(endtoend::ReleaseFile(component)), Md5Of(SetupFiles() + L"\\" + component))
            << Narrow(component);
    }
}

}  // namespace
