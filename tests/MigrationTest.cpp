// The migration of the previous generation's data and the client id: real files in a
// scratch data directory (the test engine's Setup directory lies inside it) and the real
// registry in the 64-bit view.
#include "engine/TreeCopy.h"
#include "engine/WorkerState.h"
#include "engine/states/StateCreateCLID.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateInitializing.h"
#include "engine/states/StateMigrateFiles.h"
#include "osh/Exception.h"
#include "osh/PathCompare.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/StoreKeys.h"
#include "support/TestEnvironment.h"
#include "support/TestWorker.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

using Poco::Message;
using testenv::Narrow;

const wchar_t kProgram[] = L"C:\\Setup.exe";

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

bool IsDir(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool HasLineStartingWith(const testsupport::LogCapture& log, Message::Priority priority, const std::string& start)
{
    for (const auto& line : log.Lines())
        if (line.priority == priority && line.text.compare(0, start.size(), start) == 0) return true;
    return false;
}

// A beta data directory as the previous generation leaves it, and an engine whose Setup
// directory lies in a scratch data directory.
class Migration : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"dl-migrate");
        source_ = scratch_ + L"\\beta";
        data_ = scratch_ + L"\\data";
        engine_.paths[ziz::evSetup] = data_ + L"\\SetupFiles";
        Dir(source_);
        WriteFile(source_ + L"\\.settings", "settings");
        Dir(source_ + L"\\.cache");
        Dir(source_ + L"\\.cache\\inner");
        WriteFile(source_ + L"\\.cache\\inner\\x.txt", "cached");
        Dir(source_ + L"\\db");
        WriteFile(source_ + L"\\db\\index.db", "index");
        Dir(source_ + L"\\db\\sub");
        WriteFile(source_ + L"\\db\\sub\\part.db", "part");
        WriteFile(source_ + L"\\notes.txt", "not migrated");
        Dir(source_ + L"\\dbx");
    }
    void TearDown() override
    {
        ClearAttributes(scratch_);
        testenv::RemoveTree(scratch_);
    }

    static void Dir(const std::wstring& path) { ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)); }

    // Read-only files would survive the tree removal.
    static void ClearAttributes(const std::wstring& directory)
    {
        WIN32_FIND_DATAW entry{};
        HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
        if (find == INVALID_HANDLE_VALUE) return;
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") continue;
            SetFileAttributesW((directory + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ClearAttributes(directory + L"\\" + name);
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }

    ziz::WorkerState* Run(const std::vector<std::wstring>& switches)
    {
        std::vector<std::wstring> arguments{kProgram};
        arguments.insert(arguments.end(), switches.begin(), switches.end());
        engine_.ParseCommandLine(arguments);
        return ziz::StateMigrateFiles::Instance()->Exec(engine_);
    }
    std::wstring MigrateSwitch() const { return L"/migrate=" + source_; }

    testsupport::TestWorker engine_;
    std::wstring scratch_, source_, data_;
};

TEST_F(Migration, CopiesDotEntriesAndDbWithTheirSubtrees)
{
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));

    EXPECT_EQ("settings", ReadFile(data_ + L"\\.settings"));
    EXPECT_EQ("cached", ReadFile(data_ + L"\\.cache\\inner\\x.txt"));
    EXPECT_EQ("index", ReadFile(data_ + L"\\db\\index.db"));
    EXPECT_EQ("part", ReadFile(data_ + L"\\db\\sub\\part.db"));
    EXPECT_FALSE(Exists(data_ + L"\\notes.txt"));
    EXPECT_FALSE(Exists(data_ + L"\\dbx"));
    EXPECT_FALSE(Exists(data_ + L"\\SetupFiles")) << "only the data directory is created";
    for (const auto& line : log.Lines()) EXPECT_NE(Message::PRIO_ERROR, line.priority) << line.text;
}

TEST_F(Migration, ExistingDataIsOverwrittenAndKept)
{
    Dir(data_);
    WriteFile(data_ + L"\\.settings", "old settings");
    WriteFile(data_ + L"\\own.txt", "own");
    Dir(data_ + L"\\db");
    WriteFile(data_ + L"\\db\\index.db", "old index");
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));
    EXPECT_EQ("settings", ReadFile(data_ + L"\\.settings"));
    EXPECT_EQ("index", ReadFile(data_ + L"\\db\\index.db"));
    EXPECT_EQ("own", ReadFile(data_ + L"\\own.txt"));
}

TEST_F(Migration, MissingDbFailsAfterTheDotEntriesWereCopied)
{
    testenv::RemoveTree(source_ + L"\\db");
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateFailed::Instance(), Run({MigrateSwitch()}));
    EXPECT_EQ("settings", ReadFile(data_ + L"\\.settings"));
    EXPECT_EQ("cached", ReadFile(data_ + L"\\.cache\\inner\\x.txt"));
    EXPECT_TRUE(HasLineStartingWith(log, Message::PRIO_ERROR, "FindFirstFile(\"" + Narrow(source_) + "\\db\"): "));
}

// Names without a leading dot: the platform shows dot names as hidden whatever is stored.
TEST_F(Migration, ReadOnlyAndHiddenTargetsAreOverwritten)
{
    Dir(data_);
    Dir(data_ + L"\\db");
    Dir(data_ + L"\\db\\sub");
    const std::wstring readOnly = data_ + L"\\db\\index.db";
    const std::wstring hidden = data_ + L"\\db\\sub\\part.db";
    WriteFile(readOnly, "old");
    WriteFile(hidden, "old");
    ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(SetFileAttributesW(hidden.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));

    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));
    EXPECT_EQ("index", ReadFile(readOnly));
    EXPECT_EQ("part", ReadFile(hidden));
    const DWORD afterReadOnly = GetFileAttributesW(readOnly.c_str());
    const DWORD afterHidden = GetFileAttributesW(hidden.c_str());
    EXPECT_EQ(0u, afterReadOnly & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(0u, afterHidden & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(0u, afterReadOnly & FILE_ATTRIBUTE_ARCHIVE);
    EXPECT_NE(0u, afterHidden & FILE_ATTRIBUTE_SYSTEM);
}

// Clearing the two blocking attributes leaves the others alone, also on directories.
TEST_F(Migration, ClearingKeepsTheOtherAttributes)
{
    Dir(data_);
    Dir(data_ + L"\\db");
    const std::wstring directory = data_ + L"\\db\\sub";
    Dir(directory);
    ASSERT_TRUE(SetFileAttributesW(directory.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));
    const DWORD after = GetFileAttributesW(directory.c_str());
    EXPECT_EQ(0u, after & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    EXPECT_NE(0u, after & FILE_ATTRIBUTE_SYSTEM);
    EXPECT_NE(0u, after & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ("part", ReadFile(directory + L"\\part.db"));
}

TEST_F(Migration, DirectoryOverFileStopsTheCopy)
{
    Dir(data_);
    WriteFile(data_ + L"\\.cache", "a file in the way");
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateFailed::Instance(), Run({MigrateSwitch()}));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Could not copy DIR .cache over FILE " + Narrow(data_) + "\\.cache"));
    EXPECT_EQ("a file in the way", ReadFile(data_ + L"\\.cache"));
    EXPECT_FALSE(Exists(data_ + L"\\db"));
}

TEST_F(Migration, FileOverDirectoryStopsTheCopy)
{
    Dir(data_);
    Dir(data_ + L"\\.settings");
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateFailed::Instance(), Run({MigrateSwitch()}));
    EXPECT_TRUE(
        log.Contains(Message::PRIO_ERROR, "Could not copy FILE .settings over DIR " + Narrow(data_) + "\\.settings"));
    EXPECT_TRUE(IsDir(data_ + L"\\.settings"));
    EXPECT_FALSE(Exists(data_ + L"\\db"));
}

TEST_F(Migration, MissingSourceIsSkipped)
{
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({L"/migrate=" + scratch_ + L"\\absent"}));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Migration path not found, data migration ignored."));
    EXPECT_FALSE(Exists(data_));

    // A file is no source directory either.
    log.Clear();
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({L"/migrate=" + source_ + L"\\notes.txt"}));
    EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION, "Migration path not found, data migration ignored."));
}

TEST_F(Migration, UncreatableTargetIsSkipped)
{
    // A drive letter with nothing behind it.
    engine_.paths[ziz::evSetup] = L"Q:\\NorloData\\SetupFiles";
    ASSERT_EQ(DRIVE_NO_ROOT_DIR, GetDriveTypeW(L"Q:\\"));
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));
    EXPECT_TRUE(
        log.Contains(Message::PRIO_WARNING, "Could not create migration target path, data migration ignored."));
}

TEST_F(Migration, MissingSwitchOrSetupDirectoryFails)
{
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateFailed::Instance(), Run({L"/clid=abc"}));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Data migration option expected but not found."));

    log.Clear();
    engine_.paths.clear();
    EXPECT_EQ(ziz::StateFailed::Instance(), Run({MigrateSwitch()}));
    EXPECT_TRUE(HasLineStartingWith(log, Message::PRIO_ERROR, "Unable to determine directory location"));
    EXPECT_FALSE(Exists(data_));
}

// The beta's data folder is writable by standard users: a link there must not make the
// elevated copy read from, or write to, wherever it points.
TEST_F(Migration, LinksInTheSourceAreSkippedWithAWarning)
{
    const testsupport::CanaryFolder outside(L"dl-migrate-outside");
    const testsupport::FolderLink dotLink(source_ + L"\\.linked", outside.folder);
    const testsupport::FolderLink dbLink(source_ + L"\\db\\inner-link", outside.folder);

    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));

    EXPECT_FALSE(Exists(data_ + L"\\.linked"));
    EXPECT_FALSE(Exists(data_ + L"\\db\\inner-link"));
    EXPECT_EQ("part", ReadFile(data_ + L"\\db\\sub\\part.db")) << "the rest is copied";
    for (const std::wstring& link : {dotLink.path, dbLink.path})
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Link \"" + Narrow(link) + "\" not copied: links are not followed"));
    EXPECT_TRUE(outside.Intact());
}

// Another user swaps a folder of the source for a link once the copy has listed it and
// before it reads it (a link made from the Unix side, through the seam after each listing):
// it is skipped with the link's warning, and nothing where the link leads is read.
struct SourceSwap {
    std::wstring listed, folder, target;
    std::unique_ptr<testsupport::FolderLink> link;
};
SourceSwap* g_swap = nullptr;
void SwapAfterListing(const std::wstring& folder)
{
    if (g_swap == nullptr || g_swap->link || !osh::SamePath(folder, g_swap->listed)) return;
    if (!MoveFileW(g_swap->folder.c_str(), (g_swap->folder + L"-moved").c_str())) return;
    g_swap->link = std::make_unique<testsupport::FolderLink>(g_swap->folder, g_swap->target);
}
struct SourceSwapSeam {
    explicit SourceSwapSeam(SourceSwap& swap)
    {
        g_swap = &swap;
        ziz::SetSourceListedHook(&SwapAfterListing);
    }
    ~SourceSwapSeam()
    {
        ziz::SetSourceListedHook(nullptr);
        g_swap = nullptr;
    }
};

TEST_F(Migration, AFolderSwappedForALinkAfterItWasListedIsNotRead)
{
    const testsupport::CanaryFolder outside(L"dl-migrate-outside");
    WriteFile(outside.folder + L"\\part.db", "not ours");
    SourceSwap swap{source_ + L"\\db", source_ + L"\\db\\sub", outside.folder, nullptr};
    testsupport::LogCapture log;
    {
        const SourceSwapSeam seam(swap);
        EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch()}));
    }
    ASSERT_TRUE(swap.link) << "swapped after the listing";
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Link \"" + Narrow(swap.folder) + "\" not copied: links are not followed"));
    EXPECT_FALSE(Exists(data_ + L"\\db\\sub")) << "nothing made for it";
    EXPECT_EQ("index", ReadFile(data_ + L"\\db\\index.db")) << "the rest is copied";
    EXPECT_EQ("settings", ReadFile(data_ + L"\\.settings"));
    EXPECT_TRUE(outside.Intact());
    EXPECT_EQ("not ours", ReadFile(outside.folder + L"\\part.db"));
    swap.link.reset();
}

TEST_F(Migration, LinkInTheTargetRefusesTheCopy)
{
    const testsupport::CanaryFolder outside(L"dl-migrate-outside");
    {
        // The data folder itself is a link.
        const testsupport::FolderLink dataLink(data_, outside.folder);
        testsupport::LogCapture log;
        EXPECT_EQ(ziz::StateFailed::Instance(), Run({MigrateSwitch()}));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Copy to \"" + Narrow(data_) + "\" refused: \"" + Narrow(data_) +
                                                          "\" is a link"));
        EXPECT_FALSE(Exists(outside.folder + L"\\.settings"));
    }
    {
        // A plain data folder whose "db" entry is a link.
        Dir(data_);
        const testsupport::FolderLink dbLink(data_ + L"\\db", outside.folder);
        testsupport::LogCapture log;
        EXPECT_EQ(ziz::StateFailed::Instance(), Run({MigrateSwitch()}));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Copy to \"" + Narrow(dbLink.path) + "\" refused: it is a link"));
        EXPECT_EQ("settings", ReadFile(data_ + L"\\.settings")) << "what came before the link stays";
        EXPECT_FALSE(Exists(outside.folder + L"\\index.db"));
        EXPECT_FALSE(Exists(outside.folder + L"\\sub"));
    }
    EXPECT_TRUE(outside.Intact());
}

TEST_F(Migration, SourceReachedThroughALinkIsRefused)
{
    const testsupport::FolderLink sourceLink(scratch_ + L"\\beta-link", source_);
    try {
        ziz::TreeCopy(data_, sourceLink.path + L"\\db", L"*");
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ("Copy from \"" + Narrow(sourceLink.path) + "\\db\" refused: \"" + Narrow(sourceLink.path) +
                      "\" is a link",
                  std::string(e.what()));
    }
    EXPECT_FALSE(Exists(data_));
}

TEST(TreeCopy, NoMatchThrowsTheSearch)
{
    const std::wstring scratch = testenv::MakeScratchDirectory(L"dl-treecopy");
    try {
        ziz::TreeCopy(scratch + L"\\to", scratch, L"nothing*");
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& e) {
        EXPECT_EQ("FindFirstFile(\"" + Narrow(scratch) + "\\nothing*\")", e.context());
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), e.code());
    }
    testenv::RemoveTree(scratch);
}

// ---------------------------------------------------------------------------------------
// Client id

const wchar_t kClientIdGroup[] = L"OrganizationDefaults";

// Removes the client id key afterwards unless it was there before, then restores the value.
class ClientIdKey {
public:
    ClientIdKey()
    {
        existed_ = Open(KEY_READ, key_);
        if (existed_) hadValue_ = testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kClientIdGroup,
                                                               L"CLID", previous_);
        if (existed_) RegCloseKey(key_);
        testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, kClientIdGroup, L"CLID");
    }
    ~ClientIdKey()
    {
        if (!existed_)
            testsupport::DeleteStoreGroup(HKEY_LOCAL_MACHINE, kClientIdGroup);
        else if (hadValue_)
            testsupport::WriteStoreValue(HKEY_LOCAL_MACHINE, kClientIdGroup, L"CLID", REG_SZ, previous_.c_str(),
                                         static_cast<DWORD>((previous_.size() + 1) * sizeof(wchar_t)));
        else
            testsupport::DeleteStoreValue(HKEY_LOCAL_MACHINE, kClientIdGroup, L"CLID");
    }
    bool Read(REGSAM view, std::wstring& out) const
    {
        return testsupport::ReadStoreString(HKEY_LOCAL_MACHINE, view, kClientIdGroup, L"CLID", out);
    }

private:
    static bool Open(REGSAM access, HKEY& key)
    {
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, testsupport::StoreGroupPath(kClientIdGroup).c_str(), 0,
                             access | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS;
    }
    HKEY key_ = nullptr;
    bool existed_ = false;
    bool hadValue_ = false;
    std::wstring previous_;
};

TEST_F(Migration, BothSwitchesMigrateThenStoreTheClientId)
{
    ClientIdKey key;
    const std::wstring clid = L"{8d1c-Client Id}";
    engine_.ParseCommandLine({kProgram, MigrateSwitch(), L"--clid=" + clid});
    ziz::WorkerState* state = ziz::GetInitialState(engine_);
    ASSERT_EQ(ziz::StateMigrateFiles::Instance(), state);
    state = state->Exec(engine_);
    ASSERT_EQ(ziz::StateCreateCLID::Instance(), state);
    EXPECT_EQ("index", ReadFile(data_ + L"\\db\\index.db"));
    std::wstring stored;
    EXPECT_FALSE(key.Read(KEY_WOW64_64KEY, stored)) << "stored before its state ran";
    state = state->Exec(engine_);
    EXPECT_EQ(ziz::StateInitializing::Instance(), state);
    ASSERT_TRUE(key.Read(KEY_WOW64_64KEY, stored));
    EXPECT_EQ(clid, stored);
}

TEST_F(Migration, EmptyClientIdCountsAsAbsent)
{
    ClientIdKey key;
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch(), L"/clid="}));
    EXPECT_EQ(ziz::StateInitializing::Instance(), Run({MigrateSwitch(), L"/clid"}));
    engine_.ParseCommandLine({kProgram, L"/clid="});
    EXPECT_EQ(ziz::StateInitializing::Instance(), ziz::GetInitialState(engine_));
    std::wstring stored;
    EXPECT_FALSE(key.Read(KEY_WOW64_64KEY, stored));
}

TEST(ClientId, StoredUnchangedInTheMachineHiveSixtyFourBitView)
{
    ClientIdKey key;
    testsupport::TestWorker engine;
    const std::wstring clid = L"ACME = \"a b\" \\ 42";
    engine.ParseCommandLine({kProgram, L"/clid=" + clid});
    ASSERT_EQ(ziz::StateCreateCLID::Instance(), ziz::GetInitialState(engine));
    testsupport::LogCapture log;
    EXPECT_EQ(ziz::StateInitializing::Instance(), ziz::StateCreateCLID::Instance()->Exec(engine));
    std::wstring stored;
    ASSERT_TRUE(key.Read(KEY_WOW64_64KEY, stored));
    EXPECT_EQ(clid, stored);
    std::wstring redirected;
    EXPECT_FALSE(key.Read(KEY_WOW64_32KEY, redirected)) << "landed in the 32-bit view";
    for (const auto& line : log.Lines()) EXPECT_NE(Message::PRIO_ERROR, line.priority) << line.text;

    // A second run overwrites.
    engine.ParseCommandLine({kProgram, L"/clid=second"});
    EXPECT_EQ(ziz::StateInitializing::Instance(), ziz::StateCreateCLID::Instance()->Exec(engine));
    ASSERT_TRUE(key.Read(KEY_WOW64_64KEY, stored));
    EXPECT_EQ(L"second", stored);
}

TEST(ClientId, MissingOrEmptyValueFails)
{
    ClientIdKey key;
    testsupport::TestWorker engine;
    testsupport::LogCapture log;
    for (const std::vector<std::wstring>& arguments :
         {std::vector<std::wstring>{kProgram}, {kProgram, L"/clid="}, {kProgram, L"--clid"}}) {
        engine.ParseCommandLine(arguments);
        log.Clear();
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateCreateCLID::Instance()->Exec(engine));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "CLID option expected but not found."));
    }
    std::wstring stored;
    EXPECT_FALSE(key.Read(KEY_WOW64_64KEY, stored));
}

}  // namespace
