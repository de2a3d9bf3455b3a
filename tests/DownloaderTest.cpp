// Component downloads: the progress status lines, real transfers from the harness's HTTP
// server with their failure paths, and purging stale copies from a directory tree.
#include "engine/BindStatusCallback.h"
#include "engine/CachePurge.h"
#include "engine/Downloader.h"
#include "engine/OSWorker.h"
#include "engine/mirrors/AddressAttempts.h"
#include "osh/Exception.h"
#include "osh/FileHash.h"
#include "osh/Folders.h"
#include "osh/PathCompare.h"
#include "osh/Download.h"
#include "osh/HttpTransfer.h"
#include "osh/ScopedHandle.h"
#include "osh/WebAddress.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/StateFiles.h"
#include "support/TestEnvironment.h"
#include "support/TestWorker.h"
#include "support/TlsServer.h"

#include <urlmon.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testenv::Narrow;
using testenv::Widen;

// ---------------------------------------------------------------------------------------
// Status lines

struct StatusCall {
    ULONG progress;
    ULONG progressMax;
    std::wstring line;
};

class RecordingCallback : public ziz::CBindStatusCallback {
public:
    void OnStatusText(ULONG progress, ULONG progressMax, const std::wstring& line) override
    {
        calls.push_back({progress, progressMax, line});
    }
    std::vector<StatusCall> calls;
};

std::wstring LineFor(ULONG progress, ULONG progressMax, ULONG code, LPCWSTR text)
{
    RecordingCallback callback;
    EXPECT_EQ(S_OK, callback.OnProgress(progress, progressMax, code, text));
    EXPECT_EQ(1u, callback.calls.size());
    return callback.calls.empty() ? std::wstring() : callback.calls.front().line;
}

TEST(BindStatusLine, NamesFollowTheSystemEnumeration)
{
    EXPECT_EQ(L"FINDINGRESOURCE", LineFor(0, 0, 1, nullptr));
    EXPECT_EQ(L"SSLUX_NAVBLOCKED", LineFor(0, 0, 53, nullptr));
    // Cross-checked against the enumerators the system header publishes.
    EXPECT_STREQ("DOWNLOADINGDATA", ziz::BindStatusName(BINDSTATUS_DOWNLOADINGDATA));
    EXPECT_STREQ("ENDDOWNLOADDATA", ziz::BindStatusName(BINDSTATUS_ENDDOWNLOADDATA));
    EXPECT_STREQ("CACHEFILENAMEAVAILABLE", ziz::BindStatusName(BINDSTATUS_CACHEFILENAMEAVAILABLE));
    EXPECT_STREQ("COOKIE_SENT", ziz::BindStatusName(BINDSTATUS_COOKIE_SENT));
    EXPECT_STREQ("COOKIE_STATE_DOWNGRADE", ziz::BindStatusName(BINDSTATUS_COOKIE_STATE_DOWNGRADE));
    EXPECT_STREQ("P3P_HEADER", ziz::BindStatusName(BINDSTATUS_P3P_HEADER));
    EXPECT_STREQ("MIMETEXTPLAINMISMATCH", ziz::BindStatusName(BINDSTATUS_MIMETEXTPLAINMISMATCH));
    EXPECT_STREQ("DISPLAYNAMEAVAILABLE", ziz::BindStatusName(52));
}

TEST(BindStatusLine, CodesOutsideTheEnumerationAreUnknown)
{
    EXPECT_EQ(L"UNKNOWN_BINDSTATUS", LineFor(0, 0, 0, nullptr));
    EXPECT_EQ(L"UNKNOWN_BINDSTATUS", LineFor(0, 0, 54, nullptr));
    EXPECT_EQ(L"UNKNOWN_BINDSTATUS text ( 1 / 2 )", LineFor(1, 2, 54, L"text"));
    EXPECT_EQ(L"UNKNOWN_BINDSTATUS", LineFor(0, 0, 0xFFFFFFFFu, nullptr));
}

TEST(BindStatusLine, TextAndNumbersAreAppendedOnlyWhenGiven)
{
    EXPECT_EQ(L"FINDINGRESOURCE 127.0.0.1", LineFor(0, 0, 1, L"127.0.0.1"));
    // Progress without a maximum shows no numbers.
    EXPECT_EQ(L"DOWNLOADINGDATA http://h/f", LineFor(700, 0, 5, L"http://h/f"));
    EXPECT_EQ(L"DOWNLOADINGDATA ( 700 / 4000 )", LineFor(700, 4000, 5, nullptr));
    EXPECT_EQ(L"ENDDOWNLOADDATA http://h/f ( 4000 / 4000 )", LineFor(4000, 4000, 6, L"http://h/f"));
    // An empty text still gets its separating blank.
    EXPECT_EQ(L"CONNECTING ", LineFor(0, 0, 2, L""));
    EXPECT_EQ(L"SSLUX_NAVBLOCKED ( 0 / 4294967295 )", LineFor(0, 0xFFFFFFFFu, 53, nullptr));
}

TEST(BindStatusLine, SinkGetsTheNumbersAndTheOtherSlotsRefuse)
{
    RecordingCallback callback;
    ASSERT_EQ(S_OK, callback.OnProgress(3, 9, 4, L"x"));
    ASSERT_EQ(1u, callback.calls.size());
    EXPECT_EQ(3u, callback.calls[0].progress);
    EXPECT_EQ(9u, callback.calls[0].progressMax);
    EXPECT_EQ(L"BEGINDOWNLOADDATA x ( 3 / 9 )", callback.calls[0].line);

    void* object = &callback;
    EXPECT_EQ(E_NOTIMPL, callback.QueryInterface(IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0u, callback.AddRef());
    EXPECT_EQ(0u, callback.Release());
    LONG priority = 0;
    EXPECT_EQ(E_NOTIMPL, callback.OnStartBinding(0, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback.GetPriority(&priority));
    EXPECT_EQ(E_NOTIMPL, callback.OnLowResource(0));
    EXPECT_EQ(E_NOTIMPL, callback.OnStopBinding(S_OK, nullptr));
    DWORD flags = 0;
    BINDINFO info{};
    EXPECT_EQ(E_NOTIMPL, callback.GetBindInfo(&flags, &info));
    EXPECT_EQ(E_NOTIMPL, callback.OnDataAvailable(0, 0, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, callback.OnObjectAvailable(IID_IUnknown, nullptr));
    EXPECT_EQ(1u, callback.calls.size());
}

// ---------------------------------------------------------------------------------------
// Helpers for files and trees

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::wstring& path, const std::string& content)
{
    std::ofstream out(Narrow(path), std::ios::binary);
    out << content;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool HasLineStartingWith(const testsupport::LogCapture& log, Message::Priority priority, const std::string& start)
{
    for (const auto& line : log.Lines())
        if (line.priority == priority && line.text.compare(0, start.size(), start) == 0) return true;
    return false;
}

// Keeps a directory unlistable while it lives: an open handle that shares nothing makes
// every later attempt to open the directory for listing fail with a sharing violation.
class ExclusiveDirectory {
public:
    explicit ExclusiveDirectory(const std::wstring& path)
        : handle_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                              nullptr))
    {
    }
    bool Held() const { return handle_.valid(); }

private:
    osh::ScopedFile handle_;
};


// ---------------------------------------------------------------------------------------
// Purging a tree

class PurgeFileFromTree : public ::testing::Test {
protected:
    void SetUp() override { root_ = testenv::MakeScratchDirectory(L"dl-purge"); }
    void TearDown() override { testenv::RemoveTree(root_); }

    std::wstring Make(const std::wstring& relative, const std::string& content = "x")
    {
        const std::wstring path = root_ + L"\\" + relative;
        const size_t slash = path.rfind(L'\\');
        CreateDirectoryW(path.substr(0, slash).c_str(), nullptr);
        WriteFile(path, content);
        return path;
    }
    std::wstring Dir(const std::wstring& relative)
    {
        const std::wstring path = root_ + L"\\" + relative;
        CreateDirectoryW(path.c_str(), nullptr);
        return path;
    }

    std::wstring root_;
};

TEST_F(PurgeFileFromTree, DeletesOnlyTheFirstMatchOfEachDirectory)
{
    const std::wstring a = Make(L"Comp-1.bin"), b = Make(L"Comp-2.bin"), other = Make(L"Other.bin");
    Dir(L"one");
    const std::wstring nested = Make(L"one\\Comp.msi");
    Dir(L"one\\two");
    const std::wstring deepA = Make(L"one\\two\\comp-a"), deepB = Make(L"one\\two\\comp-b");
    const std::wstring untouched = Make(L"one\\two\\Xcomp");

    testsupport::LogCapture log;
    EXPECT_TRUE(ziz::PurgeFileFromTree(root_, L"Comp*"));

    EXPECT_NE(Exists(a), Exists(b)) << "exactly one of the two root matches goes";
    EXPECT_FALSE(Exists(nested));
    EXPECT_NE(Exists(deepA), Exists(deepB));
    EXPECT_TRUE(Exists(other));
    EXPECT_TRUE(Exists(untouched));

    const std::wstring rootGone = Exists(a) ? b : a;
    const std::wstring deepGone = Exists(deepA) ? deepB : deepA;
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "File \"" + Narrow(rootGone) + "\" deleted."));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "File \"" + Narrow(nested) + "\" deleted."));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "File \"" + Narrow(deepGone) + "\" deleted."));
    EXPECT_EQ(3u, log.Lines().size());
}

TEST_F(PurgeFileFromTree, ClearsReadOnlyBeforeDeleting)
{
    Dir(L"sub");
    const std::wstring locked = Make(L"sub\\stale.exe");
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(ziz::PurgeFileFromTree(root_, L"stale*"));
    EXPECT_FALSE(Exists(locked));
}

TEST_F(PurgeFileFromTree, NothingToDeleteIsSuccess)
{
    Make(L"keep.txt");
    testsupport::LogCapture log;
    EXPECT_TRUE(ziz::PurgeFileFromTree(root_, L"absent*"));
    EXPECT_TRUE(Exists(root_ + L"\\keep.txt"));
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(PurgeFileFromTree, RootThatIsNoDirectoryIsReportedAndFails)
{
    const std::wstring file = Make(L"plain.txt");
    testsupport::LogCapture log;
    EXPECT_FALSE(ziz::PurgeFileFromTree(file, L"*"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "PurgeFileFromTree: '" + Narrow(file) + "' is not a directory"));
    EXPECT_TRUE(Exists(file));

    EXPECT_FALSE(ziz::PurgeFileFromTree(root_ + L"\\missing", L"*"));
    EXPECT_TRUE(HasLineStartingWith(log, Message::PRIO_WARNING, "PurgeFileFromTree: '" + Narrow(root_) + "\\missing'"));
}

TEST_F(PurgeFileFromTree, UnlistableSubdirectoryFailsAndStopsTheDescent)
{
    const std::wstring blocked = Dir(L"a-blocked");
    Make(L"a-blocked\\stale.bin");
    Dir(L"z-later");
    const std::wstring later = Make(L"z-later\\stale.bin");
    const std::wstring top = Make(L"stale.bin");

    ExclusiveDirectory hold(blocked);
    ASSERT_TRUE(hold.Held());
    WIN32_FIND_DATAW probe{};
    osh::ScopedFind find(FindFirstFileW((blocked + L"\\*").c_str(), &probe));
    ASSERT_FALSE(find.valid()) << "the held directory can still be listed";

    testsupport::LogCapture log;
    EXPECT_FALSE(ziz::PurgeFileFromTree(root_, L"stale*"));
    EXPECT_FALSE(Exists(top)) << "the root's own match goes before the descent";
    EXPECT_TRUE(HasLineStartingWith(log, Message::PRIO_WARNING, "FindFirstFile: "));
    // Listed after the failing directory, so never visited.
    EXPECT_TRUE(Exists(later));
}

// ---------------------------------------------------------------------------------------
// Links in a purged tree

TEST_F(PurgeFileFromTree, NeverEntersAFolderLinkAndTakesAMatchingLinkAtMost)
{
    const testsupport::CanaryFolder outside(L"dl-purge-outside");
    const std::wstring behind = outside.folder + L"\\stale.bin";
    WriteFile(behind, "not ours");
    const testsupport::FolderLink entered(root_ + L"\\into-outside", outside.folder);
    Dir(L"plain");
    const testsupport::FolderLink matching(root_ + L"\\plain\\stale-link", outside.folder);

    testsupport::LogCapture log;
    const bool purged = ziz::PurgeFileFromTree(root_, L"stale*");

    EXPECT_TRUE(outside.Intact());
    EXPECT_EQ("not ours", ReadFile(behind));
    EXPECT_TRUE(entered.Present());
    EXPECT_TRUE(purged) << "a link that stays is only a warning";
    EXPECT_NE(testsupport::SystemRemovesLinks(), matching.Present());
    if (matching.Present()) {
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "RemoveLink: '" + Narrow(matching.path) +
                                                            "' could not be opened as a link; left in place"));
    }
}

TEST_F(PurgeFileFromTree, RootThatIsALinkIsRefused)
{
    const testsupport::CanaryFolder outside(L"dl-purge-outside");
    WriteFile(outside.folder + L"\\stale.bin", "not ours");
    const testsupport::FolderLink link(root_ + L"\\link", outside.folder);

    testsupport::LogCapture log;
    EXPECT_FALSE(ziz::PurgeFileFromTree(link.path, L"stale*"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "PurgeFileFromTree: '" + Narrow(link.path) + "' is a link"));
    EXPECT_TRUE(Exists(outside.folder + L"\\stale.bin"));
    EXPECT_TRUE(outside.Intact());
}

// ---------------------------------------------------------------------------------------
// The Internet cache's names for copies of a file

TEST(CacheCopyName, OnlyTheFileItselfAndItsNumberedCopies)
{
    struct Case {
        const wchar_t* name;
        const wchar_t* base;
        const wchar_t* extension;
        bool copy;
    };
    const Case cases[] = {
        {L"base.msi", L"base", L".msi", true},
        {L"BASE.MSI", L"base", L".msi", true},
        {L"base[1].msi", L"base", L".msi", true},
        {L"base[23].msi", L"base", L".msi", true},
        {L"Base[7].Msi", L"base", L".msi", true},
        {L"a.b[2].msi", L"a.b", L".msi", true},
        {L"readme[1]", L"readme", L"", true},
        {L"readme", L"readme", L"", true},
        {L"base[].msi", L"base", L".msi", false},
        {L"base[x].msi", L"base", L".msi", false},
        {L"base[1.msi", L"base", L".msi", false},
        {L"base1].msi", L"base", L".msi", false},
        {L"base[1]x.msi", L"base", L".msi", false},
        {L"base[1].msi.bak", L"base", L".msi", false},
        {L"base.msi.bak", L"base", L".msi", false},
        {L"base-other.msi", L"base", L".msi", false},
        {L"basement.msi", L"base", L".msi", false},
        {L"xbase.msi", L"base", L".msi", false},
        {L"base.exe", L"base", L".msi", false},
        {L"base[1].exe", L"base", L".msi", false},
        {L"base", L"base", L".msi", false},
        {L"readme.txt", L"readme", L"", false},
        {L"", L"base", L".msi", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.copy, ziz::IsCacheCopyName(c.name, c.base, c.extension))
            << Narrow(c.name) << " for " << Narrow(c.base) << Narrow(c.extension);
}

TEST_F(PurgeFileFromTree, CachePurgeTakesEveryCopyAndNothingElse)
{
    const testsupport::CanaryFolder outside(L"dl-purge-outside");
    const std::wstring behind = outside.folder + L"\\Comp.msi";
    WriteFile(behind, "not ours");
    const std::wstring own = Make(L"Comp.msi"), first = Make(L"A1\\Comp[1].msi"), second = Make(L"A1\\comp[2].MSI");
    Dir(L"B2");
    const std::wstring locked = Make(L"B2\\deep\\Comp[3].msi");
    ASSERT_TRUE(SetFileAttributesW(locked.c_str(), FILE_ATTRIBUTE_READONLY));
    const std::wstring others[] = {Make(L"Comp.msi.bak"), Make(L"A1\\Comp-2.msi"), Make(L"A1\\Comp.tmp"),
                                   Make(L"B2\\Compact.msi"), Make(L"B2\\Comp[1].exe")};
    const testsupport::FolderLink entered(root_ + L"\\B2\\into-outside", outside.folder);

    testsupport::LogCapture log;
    EXPECT_TRUE(ziz::PurgeCacheCopies(root_, L"Comp", L".msi"));

    for (const std::wstring& gone : {own, first, second, locked}) {
        EXPECT_FALSE(Exists(gone)) << Narrow(gone);
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "File \"" + Narrow(gone) + "\" deleted."));
    }
    for (const std::wstring& kept : others) EXPECT_TRUE(Exists(kept)) << Narrow(kept);
    EXPECT_TRUE(entered.Present());
    EXPECT_EQ("not ours", ReadFile(behind));
    EXPECT_TRUE(outside.Intact());
}

// Another user swaps a cache folder for a link (made from the Unix side) once the purge has
// listed its parent and before it enters it, through the seam after each listing: the purge
// does not enter it, deletes nothing where it leads, and says it could not finish.
struct CacheSwap {
    std::wstring listed, folder, target;
    std::unique_ptr<testsupport::FolderLink> link;
};
CacheSwap* g_cacheSwap = nullptr;
void SwapCacheFolder(const std::wstring& folder)
{
    if (g_cacheSwap == nullptr || g_cacheSwap->link || !osh::SamePath(folder, g_cacheSwap->listed)) return;
    if (!MoveFileW(g_cacheSwap->folder.c_str(), (g_cacheSwap->folder + L"-moved").c_str())) return;
    g_cacheSwap->link = std::make_unique<testsupport::FolderLink>(g_cacheSwap->folder, g_cacheSwap->target);
}
struct CacheSwapSeam {
    explicit CacheSwapSeam(CacheSwap& swap)
    {
        g_cacheSwap = &swap;
        ziz::SetCacheFolderListedHook(&SwapCacheFolder);
    }
    ~CacheSwapSeam()
    {
        ziz::SetCacheFolderListedHook(nullptr);
        g_cacheSwap = nullptr;
    }
};

TEST_F(PurgeFileFromTree, CacheFolderSwappedForALinkAfterItsListingIsNotEntered)
{
    const testsupport::CanaryFolder outside(L"dl-purge-outside");
    const std::wstring behind = outside.folder + L"\\Comp[1].msi";
    WriteFile(behind, "not ours");
    Make(L"A1\\Comp[2].msi");
    CacheSwap swap{root_, root_ + L"\\A1", outside.folder, nullptr};
    testsupport::LogCapture log;
    bool purged = true;
    {
        const CacheSwapSeam seam(swap);
        purged = ziz::PurgeCacheCopies(root_, L"Comp", L".msi");
    }
    ASSERT_TRUE(swap.link) << "swapped after the listing";
    EXPECT_FALSE(purged);
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "PurgeCacheCopies: " + Narrow(swap.folder) + " is a link"));
    EXPECT_EQ("not ours", ReadFile(behind));
    EXPECT_TRUE(outside.Intact());
    EXPECT_TRUE(Exists(swap.folder + L"-moved\\Comp[2].msi")) << "nor reached by its old path";
    swap.link.reset();
}

// ---------------------------------------------------------------------------------------
// Downloading items

// The concrete engine, recording its notifications and how many log lines preceded each.
class RecordingEngine : public ziz::OSWorker {
public:
    explicit RecordingEngine(const testsupport::LogCapture& log) : log_(log) {}
    void Notify(ziz::EngineStatus status, int a, int b) override
    {
        notifications.push_back({status, a, b, log_.Lines().size()});
        OSWorker::Notify(status, a, b);
    }
    struct Notification {
        ziz::EngineStatus status;
        int a, b;
        size_t linesBefore;
    };
    std::vector<Notification> notifications;

private:
    const testsupport::LogCapture& log_;
};

class DownloadItem : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = testenv::Variable("NORLO_HTTP_PORT");
        ASSERT_FALSE(port_.empty()) << "the harness's HTTP server is not running";
        const std::string root = testenv::Variable("NORLO_HTTP_ROOT");
        base_ = "DlComp" + std::to_string(GetCurrentProcessId());
        name_ = base_ + ".msi";
        served_ = testenv::WindowsPathOf(root + "/" + name_);
        for (int i = 0; i < 6000; ++i) content_ += static_cast<char>('a' + (i * 11) % 26);
        WriteFile(served_, content_);
        scratch_ = testenv::MakeScratchDirectory(L"dl-download");
        osh::GetFolderPath(cache_, osh::FolderInternetCache);
        CreateDirectoryW(cache_.c_str(), nullptr);
        cacheSub_ = cache_ + L"\\dl-test-" + std::to_wstring(GetCurrentProcessId());
    }
    void TearDown() override
    {
        DeleteFileW(served_.c_str());
        testenv::RemoveTree(scratch_);
        testenv::RemoveTree(cacheSub_);
        for (const std::wstring& file : cacheFiles_) {
            SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(file.c_str());
        }
    }

    InstallItem Item(const std::string& prefix = "") const
    {
        InstallItem item;
        item.Filename = Widen(name_);
        item.Url = Widen("http://127.0.0.1:" + port_ + prefix + "/" + name_);
        item.Hash = osh::CalculateFileHash(served_);
        item.LocalPath = scratch_ + L"\\" + Widen(name_);
        return item;
    }
    std::wstring CacheFile(const std::wstring& name)
    {
        const std::wstring path = cache_ + L"\\" + name;
        WriteFile(path, "cached");
        cacheFiles_.push_back(path);
        return path;
    }

    std::string port_, base_, name_, content_;
    std::wstring served_, scratch_, cache_, cacheSub_;
    std::vector<std::wstring> cacheFiles_;
};

TEST_F(DownloadItem, FetchesVerifiesNotifiesAndLogsProgress)
{
    testsupport::LogCapture log;
    RecordingEngine engine(log);
    const InstallItem item = Item();
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 2, 5, false));

    EXPECT_EQ(content_, ReadFile(item.LocalPath));
    ASSERT_EQ(1u, engine.notifications.size());
    EXPECT_EQ(ziz::StatusDownloading, engine.notifications[0].status);
    EXPECT_EQ(2, engine.notifications[0].a);
    EXPECT_EQ(5, engine.notifications[0].b);

    const std::string downloading = "Downloading \"" + name_ + "\" from \"" + Narrow(item.Url) + "\"";
    const int at = log.IndexOf(downloading);
    ASSERT_GE(at, 0);
    EXPECT_EQ(Message::PRIO_INFORMATION, log.Lines()[at].priority);
    EXPECT_GE(static_cast<size_t>(at), engine.notifications[0].linesBefore) << "notification comes first";
    // The system's progress events arrive as status lines after the announcement.
    const auto lines = log.Lines();
    bool sawEnd = false;
    for (size_t i = static_cast<size_t>(at) + 1; i < lines.size(); ++i)
        if (lines[i].text.compare(0, 15, "ENDDOWNLOADDATA") == 0 && lines[i].priority == Message::PRIO_INFORMATION)
            sawEnd = true;
    EXPECT_TRUE(sawEnd) << "no ENDDOWNLOADDATA line after the announcement";
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_INFORMATION, "Purged"));
}

TEST_F(DownloadItem, OtherEnginesDownloadWithoutProgressLines)
{
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    const InstallItem item = Item();
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_EQ(content_, ReadFile(item.LocalPath));
    EXPECT_EQ(ziz::StatusDownloading, engine.GetLastStatus());
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_INFORMATION, "ENDDOWNLOADDATA"));
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_INFORMATION, "BEGINDOWNLOADDATA"));
}

TEST_F(DownloadItem, RefusedConnectionThrowsTheFailureLine)
{
    testsupport::LogCapture log;
    RecordingEngine engine(log);
    InstallItem item = Item();
    item.Url = Widen("http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/" + name_);
    const std::string line = "Download of \"" + Narrow(item.Url) +
                             "\" failed: the connection was refused (no server answers at that address) (error 12029)";
    try {
        ziz::DownloadItem(engine, item, 0, 1, false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        // Never a bare "Unknown HRESULT error": the address and the reason.
        EXPECT_EQ(line, std::string(e.what()));
    }
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, line));
    ASSERT_EQ(1u, engine.notifications.size()) << "the notification precedes the attempt";
}

TEST_F(DownloadItem, LocalAndNetworkPathsAreRefusedWithoutATransfer)
{
    testsupport::LogCapture log;
    RecordingEngine engine(log);
    // The served file is a real local file the system would happily "download" from.
    InstallItem item = Item();
    item.Url = L"file:///" + served_;
    try {
        ziz::DownloadItem(engine, item, 0, 1, false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ("Refused address \"" + Narrow(item.Url) + "\": scheme \"file\", only http and https addresses are "
                  "accepted",
                  std::string(e.what()));
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(item.LocalPath.c_str())) << "nothing was fetched";
    item.Url = served_;
    EXPECT_THROW(ziz::DownloadItem(engine, item, 0, 1, false), std::runtime_error);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(item.LocalPath.c_str()));
}

// Over https the system checks the server's certificate; the test authority is trusted in
// this prefix only. A refused certificate fails the component before any byte arrives.
TEST_F(DownloadItem, HttpsComponentIsFetchedOnlyFromAServerWithAnAcceptedCertificate)
{
    using testsupport::TlsCertificate;
    testsupport::TrustTestAuthority();
    InstallItem item = Item();
    item.Url = testsupport::HttpsServerAddress(TlsCertificate::Valid) + L"/" + Widen(name_);
    {
        testsupport::LogCapture log;
        RecordingEngine engine(log);
        ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
        EXPECT_EQ(content_, ReadFile(item.LocalPath));
        EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_ERROR, "Download of "));
    }
    for (TlsCertificate refused : {TlsCertificate::Expired, TlsCertificate::WrongHost, TlsCertificate::Untrusted}) {
        SCOPED_TRACE(testsupport::TlsCertificateName(refused));
        DeleteFileW(item.LocalPath.c_str());
        item.Url = testsupport::HttpsServerAddress(refused) + L"/" + Widen(name_);
        testsupport::LogCapture log;
        testsupport::TestWorker engine;
        const std::string refusal = "Download of \"" + Narrow(item.Url) +
                                    "\" failed: the server's certificate was refused (expired or not yet valid, "
                                    "issued for another host name, or by an authority this computer does not trust) "
                                    "(error ";
        try {
            ziz::DownloadItem(engine, item, 0, 1, false);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(0u, std::string(e.what()).find(refusal)) << e.what();
        }
        bool logged = false;
        for (const auto& line : log.Lines())
            logged |= line.priority == Message::PRIO_ERROR && line.text.rfind(refusal, 0) == 0;
        EXPECT_TRUE(logged) << "no line naming the refused certificate";
        EXPECT_FALSE(Exists(item.LocalPath)) << "nothing was written";
        ASSERT_EQ(1u, engine.Report().Components().size());
        EXPECT_EQ("download", engine.Report().Components()[0].failedCheck);
    }
}

// Whatever the address names, only a web server is asked; the line says what was refused.
TEST_F(DownloadItem, FtpNetworkAndSchemelessAddressesAreRefusedWithoutATransfer)
{
    const std::wstring served = Item().Url;  // http://127.0.0.1:port/name
    struct Case {
        std::wstring url;
        std::string refusal;
    } const cases[] = {
        {L"ftp" + served.substr(4), "scheme \"ftp\", only http and https addresses are accepted"},
        {L"\\\\127.0.0.1\\c$\\" + Widen(name_), "a network path, not an http or https address"},
        {L"//127.0.0.1/c$/" + Widen(name_), "a network path, not an http or https address"},
        {served.substr(7), "no scheme, only http and https addresses are accepted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.url));
        testsupport::LogCapture log;
        testsupport::TestWorker engine;
        InstallItem item = Item();
        item.Url = c.url;
        try {
            ziz::DownloadItem(engine, item, 0, 1, false);
            ADD_FAILURE() << "no exception";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ("Refused address \"" + Narrow(c.url) + "\": " + c.refusal, std::string(e.what()));
        }
        EXPECT_FALSE(Exists(item.LocalPath)) << "nothing was fetched";
    }
}

// A vendor build takes nothing over plain http: not an item, not the update document of
// the built-in address or of the registry's override, whatever server answers there.
class VendorBuild {
public:
    VendorBuild() : previous_(osh::SetPlainHttpAccepted(false)) {}
    ~VendorBuild() { osh::SetPlainHttpAccepted(previous_); }
    VendorBuild(const VendorBuild&) = delete;
    VendorBuild& operator=(const VendorBuild&) = delete;

private:
    bool previous_;
};

TEST_F(DownloadItem, VendorBuildRefusesPlainHttpForEveryAddress)
{
    ASSERT_TRUE(osh::PlainHttpAccepted()) << "a test build accepts the local http server";
    const VendorBuild vendor;
    InstallItem item = Item();
    ASSERT_EQ(item.Url.rfind(L"http://", 0), 0u);
    const std::string refusal = "Refused address \"" + Narrow(item.Url) + "\": plain http, only https addresses are accepted";
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    try {
        ziz::DownloadItem(engine, item, 0, 1, false);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(refusal, std::string(e.what()));
    }
    EXPECT_FALSE(Exists(item.LocalPath)) << "nothing was fetched";

    // The update document's download, whichever address the run took.
    const std::wstring document = scratch_ + L"\\update.xml";
    EXPECT_FALSE(osh::DownloadToFile(document, item.Url));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, refusal));
    EXPECT_FALSE(Exists(document));
}

// An error page or a cut body fails the transfer itself (the cut one after its retries, with
// the pauses shortened); a whole body with the wrong digest fails the check and stays beside
// the final name, which it never takes.
TEST_F(DownloadItem, ErrorPageCutBodyAndWrongDigestFailBeforeTheFinalName)
{
    osh::transfertest::SetPauseDivisor(50);
    struct Restore {
        ~Restore() { osh::transfertest::SetPauseDivisor(0); }
    } restore;
    struct Case {
        const char* prefix;
        bool corruptHash;
        const char* failure;
        bool partialKept;  // for a later run to continue
    } cases[] = {{"/404", false, "Download of \"%s\" failed: HTTP 404", false},
                 {"/cut", false, "Download of \"%s\" failed: the connection was dropped after ", true},
                 {"", true, "Download failed file integrity check", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("prefix '") + c.prefix + "'");
        testsupport::LogCapture log;
        testsupport::TestWorker engine;
        InstallItem item = Item(c.prefix);
        if (c.corruptHash) item.Hash = L"00000000000000000000000000000000";
        const std::wstring partial = item.LocalPath + L".partial";
        DeleteFileW(item.LocalPath.c_str());
        DeleteFileW(partial.c_str());
        std::string expected = c.failure;
        const size_t slot = expected.find("%s");
        if (slot != std::string::npos) expected.replace(slot, 2, Narrow(item.Url));
        try {
            ziz::DownloadItem(engine, item, 0, 1, false);
            ADD_FAILURE() << "no exception";
        } catch (const std::exception& e) {
            EXPECT_EQ(0u, std::string(e.what()).find(expected)) << e.what();
        }
        EXPECT_FALSE(Exists(item.LocalPath));
        EXPECT_EQ(c.corruptHash, log.Contains(Message::PRIO_WARNING, "Hash comparison failure on file " + Narrow(partial)));
        EXPECT_EQ(c.partialKept, Exists(partial));
    }
}

TEST_F(DownloadItem, CleanModePurgesTheCacheFirst)
{
    const std::wstring stale = CacheFile(Widen(base_) + L"[1].msi");
    CreateDirectoryW(cacheSub_.c_str(), nullptr);
    const std::wstring nested = cacheSub_ + L"\\" + Widen(base_) + L"[2].msi";
    WriteFile(nested, "cached");
    ASSERT_TRUE(SetFileAttributesW(nested.c_str(), FILE_ATTRIBUTE_READONLY));
    // Another item's entry whose name merely begins with this one's base name stays.
    const std::wstring alike = cacheSub_ + L"\\" + Widen(base_) + L".tmp";
    WriteFile(alike, "cached");

    testsupport::LogCapture log;
    RecordingEngine engine(log);
    const InstallItem item = Item();
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, true));

    EXPECT_FALSE(Exists(stale));
    EXPECT_FALSE(Exists(nested));
    EXPECT_TRUE(Exists(alike));
    const int purged = log.IndexOf("Purged " + name_ + " from internet cache.");
    ASSERT_GE(purged, 0);
    EXPECT_EQ(Message::PRIO_INFORMATION, log.Lines()[purged].priority);
    EXPECT_LT(purged, log.IndexOf("Downloading \"" + name_ + "\" from \"" + Narrow(item.Url) + "\""));
    EXPECT_EQ(content_, ReadFile(item.LocalPath));
}

TEST_F(DownloadItem, WithoutCleanTheCacheIsLeftAlone)
{
    const std::wstring stale = CacheFile(Widen(base_) + L"[1].msi");
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    ASSERT_NO_THROW(ziz::DownloadItem(engine, Item(), 0, 1, false));
    EXPECT_TRUE(Exists(stale));
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_INFORMATION, "Purged"));
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_WARNING, "Could not purge"));
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_INFORMATION, "File \""));
}

TEST_F(DownloadItem, FailedPurgeIsLoggedAndTheDownloadStillRuns)
{
    ASSERT_TRUE(CreateDirectoryW(cacheSub_.c_str(), nullptr));
    ExclusiveDirectory hold(cacheSub_);
    ASSERT_TRUE(hold.Held());

    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    const InstallItem item = Item();
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, true));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Could not purge " + name_ + " from internet cache."));
    EXPECT_LT(log.IndexOf("Could not purge " + name_ + " from internet cache."),
              log.IndexOf("Downloading \"" + name_ + "\" from \"" + Narrow(item.Url) + "\""));
    EXPECT_EQ(content_, ReadFile(item.LocalPath));
}

// A name the splitter cannot take apart throws inside the purge step; the download goes on.
TEST_F(DownloadItem, PurgeThatThrowsIsLoggedAndTheDownloadStillRuns)
{
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    InstallItem item = Item();
    item.Filename = std::wstring(300, L'n') + L".msi";
    const std::string name = Narrow(item.Filename);
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, true));
    EXPECT_TRUE(HasLineStartingWith(log, Message::PRIO_WARNING, "_tsplitpath_s: "));
    const int didNot = log.IndexOf("Did not purge " + name + " from internet cache.");
    ASSERT_GE(didNot, 0);
    EXPECT_EQ(Message::PRIO_WARNING, log.Lines()[didNot].priority);
    EXPECT_LT(didNot, log.IndexOf("Downloading \"" + name + "\" from \"" + Narrow(item.Url) + "\""));
    EXPECT_EQ(content_, ReadFile(item.LocalPath));
}

// A name without a base part would make the pattern "*" and purge unrelated cache entries.
TEST_F(DownloadItem, NameWithoutBasePartPurgesNothing)
{
    const std::wstring unrelated = CacheFile(L"unrelated-" + Widen(base_) + L".dat");
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    InstallItem item = Item();
    item.Filename = L".msi";
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, true));
    EXPECT_TRUE(Exists(unrelated));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Could not purge .msi from internet cache."));
    EXPECT_FALSE(HasLineStartingWith(log, Message::PRIO_INFORMATION, "File \""));
}

// An item with mirrors: an address that answers 500 and one that sends another file are
// each logged with their place and why, and the next is asked; only the checked file of a
// later address is taken, and the report keeps no trace of the refused ones.
TEST_F(DownloadItem, MirrorsAreAskedInTurnUntilOneSendsTheCheckedFile)
{
    osh::transfertest::SetPauseDivisor(50);
    struct RestorePauses {
        ~RestorePauses() { osh::transfertest::SetPauseDivisor(0); }
    } restorePauses;
    const std::string root = testenv::Variable("NORLO_HTTP_ROOT");
    const std::string otherName = base_ + "-other.msi";
    const std::wstring other = testenv::WindowsPathOf(root + "/" + otherName);
    WriteFile(other, "not the component");
    struct Remove {
        std::wstring path;
        ~Remove() { DeleteFileW(path.c_str()); }
    } remove{other};

    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    InstallItem item = Item("/500");
    const std::wstring served = Item().Url;
    const std::wstring wrong = Widen("http://127.0.0.1:" + port_ + "/" + otherName);
    item.Mirrors = {wrong, served};
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_EQ(content_, ReadFile(item.LocalPath));

    const std::string first = "Address 1 of 3 \"" + Narrow(item.Url) + "\" failed (Download of \"" + Narrow(item.Url) +
                              "\" failed: HTTP 500); trying address 2";
    const std::string second =
        "Address 2 of 3 \"" + Narrow(wrong) + "\" failed (Download failed file integrity check); trying address 3";
    ASSERT_TRUE(log.Contains(Message::PRIO_WARNING, first));
    ASSERT_TRUE(log.Contains(Message::PRIO_WARNING, second));
    EXPECT_LT(log.IndexOf(first), log.IndexOf(second));
    EXPECT_LT(log.IndexOf(second), log.IndexOf("Downloading \"" + name_ + "\" from \"" + Narrow(served) + "\""));
    ASSERT_EQ(1u, engine.Report().Components().size());
    EXPECT_EQ(ziz::ComponentAction::Downloaded, engine.Report().Components()[0].action);
    EXPECT_EQ("", engine.Report().Components()[0].failedCheck);
}

// When every address fails the run learns the last one's failure, and the line says none is left.
TEST_F(DownloadItem, EveryMirrorFailingThrowsTheLastFailure)
{
    osh::transfertest::SetPauseDivisor(50);
    struct RestorePauses {
        ~RestorePauses() { osh::transfertest::SetPauseDivisor(0); }
    } restorePauses;
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    InstallItem item = Item("/404");
    const std::wstring closed = Widen("http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/" + name_);
    item.Mirrors = {L"file:///" + served_, closed};
    const std::string last = "Download of \"" + Narrow(closed) +
                             "\" failed: the connection was refused (no server answers at that address) (error 12029)";
    try {
        ziz::DownloadItem(engine, item, 0, 1, false);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(last, std::string(e.what()));
    }
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Address 2 of 3 \"file:///" + Narrow(served_) +
                                                        "\" failed (Refused address \"file:///" + Narrow(served_) +
                                                        "\": scheme \"file\", only http and https addresses are "
                                                        "accepted); trying address 3"));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Address 3 of 3 \"" + Narrow(closed) + "\" failed (" + last +
                                                      "); no address left"));
    EXPECT_FALSE(Exists(item.LocalPath));
    ASSERT_EQ(1u, engine.Report().Components().size());
    EXPECT_EQ("download", engine.Report().Components()[0].failedCheck);
}

// The update document's own address may list mirrors: the first that serves it wins.
TEST_F(DownloadItem, UpdateDocumentComesFromTheFirstAddressThatServesIt)
{
    osh::transfertest::SetPauseDivisor(50);
    struct RestorePauses {
        ~RestorePauses() { osh::transfertest::SetPauseDivisor(0); }
    } restorePauses;
    testsupport::LogCapture log;
    const std::wstring document = scratch_ + L"\\update.xml";
    const std::wstring failing = Item("/500").Url;
    std::string failure;
    ASSERT_TRUE(ziz::DownloadFromAddresses(document, ziz::SplitAddressList(failing + L" ; " + Item().Url), failure));
    EXPECT_EQ(content_, ReadFile(document));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Address 1 of 2 \"" + Narrow(failing) + "\" failed (Download of \"" +
                                                        Narrow(failing) + "\" failed: HTTP 500); trying address 2"));

    DeleteFileW(document.c_str());
    const std::wstring missing = Item("/404").Url;
    EXPECT_FALSE(ziz::DownloadFromAddresses(document, {failing, missing}, failure));
    EXPECT_EQ("Download of \"" + Narrow(missing) + "\" failed: HTTP 404", failure);
    EXPECT_FALSE(Exists(document));
}

}  // namespace
