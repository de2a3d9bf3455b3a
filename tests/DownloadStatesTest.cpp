// Making the components available in the setup directory, and the elevated relaunch.
#include "support/BrokenPlatform.h"
#include "support/EndToEnd.h"
#include "support/Links.h"
#include "support/LogCapture.h"
#include "support/MessageBoxWatcher.h"
#include "support/StateFiles.h"
#include "support/StateWorker.h"
#include "support/TestEnvironment.h"

#include "engine/ElevatedWorkFolder.h"
#include "engine/HandBack.h"
#include "engine/SetupFilesCache.h"
#include "engine/SpaceCheck.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StatePerformingSoftwareStops.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "engine/states/StateProcessingDownloads.h"
#include "engine/states/StateRemovingInnoInstall.h"
#include "engine/states/StateUpdatingAppliance.h"
#include "osh/Elevation.h"
#include "osh/HttpTransfer.h"
#include "osh/Process.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testsupport::LogCapture;
using testsupport::Notification;
using testsupport::ServedFolder;
using testsupport::StateWorker;
using testenv::Narrow;

struct Component {
    const wchar_t* name;
    std::string content;
};

const Component kComponents[] = {
    {L"first.msi", std::string(3000, 'a') + "first"},
    {L"second.exe", std::string(5000, 'b') + "second"},
    {L"third.msi", std::string(7000, 'c') + "third"},
};

struct Recorded {
    std::wstring file;
    std::string action;
    std::string failedCheck;
    bool operator==(const Recorded& other) const
    {
        return file == other.file && action == other.action && failedCheck == other.failedCheck;
    }
};

void PrintTo(const Recorded& record, std::ostream* out)
{
    *out << Narrow(record.file) << ":" << record.action << ":" << record.failedCheck;
}

std::vector<Recorded> RecordsOf(ziz::Worker& worker)
{
    std::vector<Recorded> records;
    for (const ziz::ComponentRecord& record : worker.Report().Components())
        records.push_back({record.file, ziz::ComponentActionName(record.action), record.failedCheck});
    return records;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class ProcessingDownloads : public ::testing::Test {
protected:
    void SetUp() override
    {
        scratch_ = testenv::MakeScratchDirectory(L"statesa-downloads");
        setup_ = scratch_ + L"\\SetupFiles";
        media_ = scratch_ + L"\\Media";
        CreateDirectoryW(setup_.c_str(), nullptr);
        CreateDirectoryW(media_.c_str(), nullptr);
        served_.reset(new ServedFolder(L"statesa-components"));
        for (const Component& c : kComponents) served_->Put(c.name, c.content);
    }
    void TearDown() override
    {
        served_.reset();
        testenv::RemoveTree(scratch_);
    }
    InstallItem Item(const Component& c, const std::wstring& prefix = L"") const
    {
        InstallItem item;
        item.Filename = c.name;
        item.Url = served_->Url(c.name, prefix);
        item.Hash = testenv::Widen(endtoend::FileMd5(served_->Path(c.name)));
        return item;
    }
    InstallSequence AllItems() const
    {
        InstallSequence items;
        for (const Component& c : kComponents) items.push_back(Item(c));
        return items;
    }
    void Prepare(StateWorker& worker, const InstallSequence& items) const
    {
        worker.paths[ziz::evSetup] = setup_;
        worker.paths[ziz::evTempDir] = scratch_;
        worker.paths[ziz::evInitial] = media_;
        worker.SetItems(items);
    }
    std::wstring InSetup(const Component& c) const { return setup_ + L"\\" + c.name; }
    // Where an elevated run keeps what it runs (this prefix's token is elevated).
    static std::wstring InComponents(const std::wstring& name) { return ziz::ElevatedComponentFolder() + L"\\" + name; }
    std::vector<Notification> Downloads(const StateWorker& worker) const
    {
        std::vector<Notification> downloads;
        for (const Notification& n : worker.notifications) {
            if (n.status == ziz::StatusDownloading) downloads.push_back(n);
        }
        return downloads;
    }

    std::wstring scratch_;
    std::wstring setup_;
    std::wstring media_;
    std::unique_ptr<ServedFolder> served_;
};

TEST_F(ProcessingDownloads, MissingComponentsAreDownloadedInOrderAndTheDownloadRunEnds)
{
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/download"});
    Prepare(worker, AllItems());
    worker.SetRestartRequired(true);
    EXPECT_EQ(nullptr, ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusDownloading, 0, 3},
                                         {ziz::StatusDownloading, 1, 3},
                                         {ziz::StatusDownloading, 2, 3},
                                         {ziz::StatusSucceeded, 0, 0}}),
              worker.notifications);
    EXPECT_FALSE(worker.IsRestartRequired());
    int previous = -1;
    for (const Component& c : kComponents) {
        EXPECT_EQ(c.content, testsupport::ReadTextFile(InSetup(c)));
        const int line = log.IndexOf("Downloading \"" + Narrow(c.name) + "\" from \"" + Narrow(served_->Url(c.name)) + "\"");
        EXPECT_GT(line, previous) << Narrow(c.name);
        previous = line;
    }
    const InstallSequence items = worker.Items();
    ASSERT_EQ(3u, items.size());
    auto item = items.begin();
    for (const Component& c : kComponents) EXPECT_EQ(Narrow(InComponents(c.name)), Narrow((item++)->LocalPath));
}

TEST_F(ProcessingDownloads, IntactCopiesAreKeptAndBrokenOnesFetchedAgain)
{
    testsupport::WriteTextFile(InSetup(kComponents[0]), kComponents[0].content);
    testsupport::WriteTextFile(InSetup(kComponents[1]), "damaged");
    testsupport::WriteTextFile(InSetup(kComponents[2]), kComponents[2].content);
    StateWorker worker;
    Prepare(worker, AllItems());
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusDownloading, 0, 1}}), Downloads(worker));
    EXPECT_EQ(kComponents[1].content, testsupport::ReadTextFile(InSetup(kComponents[1])));
    for (const InstallItem& item : worker.Items()) EXPECT_EQ(Narrow(InComponents(item.Filename)), Narrow(item.LocalPath));
    // The damaged copy's failed check was only the search for a copy, not the outcome. The
    // records keep the order in which things happened: copies are found before any fetch.
    EXPECT_EQ((std::vector<Recorded>{{L"first.msi", "reused", ""}, {L"third.msi", "reused", ""},
                                     {L"second.exe", "downloaded", ""}}),
              RecordsOf(worker));

    // Everything intact now: nothing to fetch, no download notification.
    StateWorker again({L"C:\\Media\\Setup.exe", L"/uninstall"});
    Prepare(again, AllItems());
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(again));
    EXPECT_TRUE(again.notifications.empty());
}

TEST_F(ProcessingDownloads, CleanFetchesEverythingAgainAndCountsAllItems)
{
    for (const Component& c : kComponents) testsupport::WriteTextFile(InSetup(c), c.content);
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/update", L"/clean"});
    Prepare(worker, AllItems());
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusDownloading, 0, 3},
                                         {ziz::StatusDownloading, 1, 3},
                                         {ziz::StatusDownloading, 2, 3}}),
              Downloads(worker));
}

TEST_F(ProcessingDownloads, IntactCopiesBesideTheProgramAreTakenIn)
{
    testsupport::WriteTextFile(media_ + L"\\first.msi", kComponents[0].content);
    testsupport::WriteTextFile(media_ + L"\\second.exe", "not what the sequence promises");
    served_->Put(L"first.msi", "the server would give something else");
    InstallSequence items = AllItems();
    items.front().Hash = testenv::Widen(endtoend::FileMd5(media_ + L"\\first.msi"));
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/appliance=E:\\"});
    Prepare(worker, items);
    EXPECT_EQ(ziz::StateUpdatingAppliance::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_EQ(kComponents[0].content, testsupport::ReadTextFile(InSetup(kComponents[0])));
    EXPECT_EQ(kComponents[1].content, testsupport::ReadTextFile(InSetup(kComponents[1])));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusDownloading, 0, 2}, {ziz::StatusDownloading, 1, 2}}),
              Downloads(worker));
    EXPECT_EQ((std::vector<Recorded>{{L"first.msi", "copied", ""}, {L"second.exe", "downloaded", ""},
                                     {L"third.msi", "downloaded", ""}}),
              RecordsOf(worker));
}

// An elevated run runs nothing from the setup files, where a standard user could plant a
// DLL beside a component or change it: each component is taken into its admin-only folder,
// checked there, and only cached in the setup files for later runs.
TEST_F(ProcessingDownloads, ElevatedRunTakesEveryComponentIntoItsAdminOnlyFolder)
{
    testsupport::WriteTextFile(InSetup(kComponents[0]), kComponents[0].content);
    testsupport::WriteTextFile(setup_ + L"\\planted.dll", "a DLL another user left beside the components");
    // Bytes another user's run left (or put) in the setup files as an interrupted transfer:
    // the elevated run fetches into its own folder, whole, and never continues them.
    testsupport::WriteTextFile(InSetup(kComponents[1]) + L".partial", "XX");
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/install"});
    Prepare(worker, AllItems());
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    for (const Component& c : kComponents) {
        EXPECT_EQ(c.content, testsupport::ReadTextFile(InComponents(c.name))) << Narrow(c.name);
        EXPECT_EQ(c.content, testsupport::ReadTextFile(InSetup(c))) << "cached for later runs: " << Narrow(c.name);
        EXPECT_FALSE(Exists(InComponents(c.name) + L".partial"));
    }
    EXPECT_FALSE(Exists(InComponents(L"planted.dll")));
    for (const auto& line : log.Lines()) EXPECT_NE(0u, line.text.rfind("Resumed file", 0)) << "nothing was continued";
    EXPECT_EQ("XX", testsupport::ReadTextFile(InSetup(kComponents[1]) + L".partial"));
    EXPECT_EQ((std::vector<Recorded>{{L"first.msi", "reused", ""}, {L"second.exe", "downloaded", ""},
                                     {L"third.msi", "downloaded", ""}}),
              RecordsOf(worker));

    // A copy in the setup files changed after the elevated run took it is not what it runs.
    testsupport::WriteTextFile(InSetup(kComponents[0]), "changed by another user");
    EXPECT_EQ(kComponents[0].content, testsupport::ReadTextFile(InComponents(kComponents[0].name)));
}

// The setup files replaced by a link to another folder: the elevated run creates, renames
// and deletes nothing there, says so once, and still has every component to run.
TEST_F(ProcessingDownloads, ElevatedRunCachesNothingThroughASetupFilesLink)
{
    const testsupport::CanaryFolder outside(L"statesa-setup-link");
    RemoveDirectoryW(setup_.c_str());
    const testsupport::FolderLink link(setup_, outside.folder);
    testsupport::WriteTextFile(media_ + L"\\first.msi", kComponents[0].content);
    ziz::ForgetSetupFilesRefusal();
    LogCapture log;
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/install"});
    Prepare(worker, AllItems());
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));

    EXPECT_TRUE(outside.Intact());
    for (const Component& c : kComponents)
        EXPECT_EQ(c.content, testsupport::ReadTextFile(InComponents(c.name))) << Narrow(c.name);
    int refusals = 0;
    for (const auto& line : log.Lines()) refusals += line.text.rfind("Refusing the setup files folder", 0) == 0;
    EXPECT_EQ(1, refusals);
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Refusing the setup files folder " + Narrow(setup_) + ": " +
                                                        Narrow(setup_) + " is a link; nothing is cached there"));
}

TEST_F(ProcessingDownloads, CopyThatFailsIsLoggedAndDownloadedInstead)
{
    // A folder in the component's place takes no copy (nor a download). An elevated run copies
    // into its own folder instead (ElevatedRunTakesEveryComponentIntoItsAdminOnlyFolder).
    testsupport::NotElevated notElevated;
    testsupport::WriteTextFile(media_ + L"\\first.msi", kComponents[0].content);
    CreateDirectoryW(InSetup(kComponents[0]).c_str(), nullptr);
    LogCapture log;
    StateWorker worker;
    Prepare(worker, {Item(kComponents[0])});
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Unable to copy " + Narrow(media_ + L"\\first.msi") + " to " +
                                                         Narrow(InSetup(kComponents[0]))));
    EXPECT_GE(log.IndexOf("Downloading \"first.msi\" from \"" + Narrow(served_->Url(L"first.msi")) + "\""), 0);
}

TEST_F(ProcessingDownloads, FirstBrokenDownloadEndsTheStateAndLaterItemsAreNotTried)
{
    // The cut body is asked for again after pauses; shortened here.
    osh::transfertest::SetPauseDivisor(50);
    struct Restore {
        ~Restore() { osh::transfertest::SetPauseDivisor(0); }
    } restore;
    const std::pair<const wchar_t*, const char*> faults[] = {{L"404/", "HTTP 404"},
                                                             {L"cut/", "the connection was dropped after "}};
    for (const auto& broken : faults) {
        const wchar_t* fault = broken.first;
        LogCapture log;
        InstallSequence items = AllItems();
        std::next(items.begin())->Url = served_->Url(L"second.exe", fault);
        StateWorker worker;
        Prepare(worker, items);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
        // The transfer itself fails: an error page or a cut body never reaches the check.
        const std::string failed =
            "Download of \"" + Narrow(served_->Url(L"second.exe", fault)) + "\" failed: " + broken.second;
        bool named = false;
        for (const auto& line : log.Lines()) named |= line.priority == Message::PRIO_ERROR && line.text.rfind(failed, 0) == 0;
        EXPECT_TRUE(named) << Narrow(fault);
        EXPECT_EQ(kComponents[0].content, testsupport::ReadTextFile(InSetup(kComponents[0])));
        EXPECT_EQ(-1, log.IndexOf("Downloading \"third.msi\" from \"" + Narrow(served_->Url(L"third.msi")) + "\""));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(InSetup(kComponents[2]).c_str()));
        // The item never tried has no record; the broken one names the check it failed.
        EXPECT_EQ((std::vector<Recorded>{{L"first.msi", "downloaded", ""}, {L"second.exe", "failed", "download"}}),
                  RecordsOf(worker));
        testenv::RemoveTree(setup_);
        CreateDirectoryW(setup_.c_str(), nullptr);
    }
}

TEST_F(ProcessingDownloads, UnreachableServerFailsTheState)
{
    LogCapture log;
    InstallItem item = Item(kComponents[0]);
    item.Url = L"http://127.0.0.1:" + std::to_wstring(testsupport::ClosedPort()) + L"/first.msi";
    StateWorker worker;
    Prepare(worker, {item});
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_EQ((std::vector<Recorded>{{L"first.msi", "failed", "download"}}), RecordsOf(worker));
    bool found = false;
    std::string all;
    for (const auto& line : log.Lines()) {
        // The exception's text names the address and the reason.
        found |= line.priority == Message::PRIO_ERROR &&
                 line.text == "Download of \"" + Narrow(item.Url) +
                                  "\" failed: the connection was refused (no server answers at that address) (error "
                                  "12029)";
        all += line.text + "\n";
    }
    EXPECT_TRUE(found) << all;
}

TEST_F(ProcessingDownloads, UnknownLocationsAndTheCheckModeFail)
{
    const std::pair<ziz::PathKind, const char*> lookups[] = {
        {ziz::evSetup, "Unable to determine directory location for Setup files"},
        {ziz::evTempDir, "Unable to determine directory location for temporary files"},
        {ziz::evInitial, "Unable to determine directory location of executable"},
    };
    for (const auto& lookup : lookups) {
        LogCapture log;
        StateWorker worker;
        Prepare(worker, AllItems());
        worker.paths.erase(lookup.first);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, lookup.second)) << lookup.second;
        EXPECT_TRUE(worker.notifications.empty());
    }
    for (const Component& c : kComponents) testsupport::WriteTextFile(InSetup(c), c.content);
    for (ziz::InstallMode mode : {ziz::CHECK, ziz::INVALID}) {
        LogCapture log;
        StateWorker worker;
        Prepare(worker, AllItems());
        worker.SetMode(mode);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in StateProcessingDownloads"));
    }
}

TEST_F(ProcessingDownloads, UnsafeFileNameFailsTheRunBeforeAnyDownload)
{
    for (const wchar_t* name : {L"..\\outside.msi", L"", L"..", L"c:\\x.msi", L"a/b.msi"}) {
        LogCapture log;
        InstallSequence items = AllItems();
        items.back().Filename = name;
        StateWorker worker;
        Prepare(worker, items);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Install item has an unsafe file name \"" + Narrow(name) + "\""));
        EXPECT_TRUE(worker.notifications.empty());
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((scratch_ + L"\\outside.msi").c_str()));
    }
}

int IndexStartingWith(const LogCapture& log, const std::string& start)
{
    const auto lines = log.Lines();
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].text.compare(0, start.size(), start) == 0) return static_cast<int>(i);
    return -1;
}

// Sizes far beyond any drive: the run must stop on the space check before its first
// transfer. The intact copy's size is not counted, only what is still to fetch.
TEST_F(ProcessingDownloads, ComponentsThatCannotFitFailTheRunBeforeAnyDownload)
{
    testsupport::WriteTextFile(InSetup(kComponents[0]), kComponents[0].content);
    const std::uint64_t huge = 9000000000000000ull;
    InstallSequence items = AllItems();
    auto item = items.begin();
    (item++)->Size = std::to_wstring(kComponents[0].content.size());
    (item++)->Size = std::to_wstring(huge);
    item->Size = std::to_wstring(huge + 1);
    const std::uint64_t intact = kComponents[0].content.size();
    struct Case {
        std::wstring setup;
        std::uint64_t toFetch;
    };
    // A folder not made yet holds no intact copy; its drive is that of its parent.
    for (const Case& c : {Case{setup_, 2 * huge + 1}, Case{setup_ + L"\\not\\made", 2 * huge + 1 + intact}}) {
        const std::wstring& setup = c.setup;
        const std::string needed = std::to_string(ziz::BytesNeeded(c.toFetch));
        LogCapture log;
        StateWorker worker;
        Prepare(worker, items);
        worker.paths[ziz::evSetup] = setup;
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
        const int line = IndexStartingWith(log, "Not enough space on ");
        ASSERT_GE(line, 0) << Narrow(setup);
        const std::string text = log.Lines()[static_cast<size_t>(line)].text;
        EXPECT_EQ(Message::PRIO_ERROR, log.Lines()[static_cast<size_t>(line)].priority);
        EXPECT_NE(std::string::npos, text.find(":\\ for the components: " + needed + " bytes needed, ")) << text;
        EXPECT_EQ(text.size() - 11, text.rfind(" bytes free")) << text;
        EXPECT_TRUE(Downloads(worker).empty()) << Narrow(setup);
        EXPECT_FALSE(log.Contains(Message::PRIO_WARNING, "Free space not known"));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((setup + L"\\" + kComponents[1].name).c_str()));
    }
}

// Components of known, small sizes on a drive with room: the check lets every transfer run.
TEST_F(ProcessingDownloads, ComponentsThatFitAreDownloadedWithTheirSizesChecked)
{
    InstallSequence items = AllItems();
    auto item = items.begin();
    for (const Component& c : kComponents) (item++)->Size = std::to_wstring(c.content.size());
    LogCapture log;
    StateWorker worker;
    Prepare(worker, items);
    EXPECT_EQ(ziz::StatePerformingUACCheck::Instance(), ziz::StateProcessingDownloads::Instance()->Exec(worker));
    EXPECT_EQ(3u, Downloads(worker).size());
    EXPECT_LT(IndexStartingWith(log, "Not enough space on "), 0);
    for (const Component& c : kComponents) EXPECT_EQ(c.content, testsupport::ReadTextFile(InSetup(c)));
}

// ---------------------------------------------------------------------------------------
// PerformingUACCheck

struct ElevatedCall {
    std::wstring file;
    std::wstring parameters;
    std::wstring directory;
    HWND window = reinterpret_cast<HWND>(1);
};
std::vector<ElevatedCall> g_elevatedCalls;
bool g_elevationStarts = true;
HRESULT g_elevation = 1;
// When set, the stand-in for the elevated run: a real process whose handle the state gets.
std::wstring g_elevatedChild;
DWORD g_elevatedChildId = 0;

HRESULT AnswerElevation(bool* elevated)
{
    if (elevated != nullptr) *elevated = g_elevation == 0;
    return g_elevation;
}

bool RecordElevatedRun(HWND window, const wchar_t* file, const wchar_t* parameters, const wchar_t* directory,
                       osh::ScopedHandle* process)
{
    g_elevatedCalls.push_back({file ? file : L"(null)", parameters ? parameters : L"(null)",
                               directory ? directory : L"(null)", window});
    if (g_elevationStarts && !g_elevatedChild.empty() && process != nullptr) {
        EXPECT_TRUE(osh::StartProcess(g_elevatedChild, L"", *process));
        g_elevatedChildId = GetProcessId(process->get());
    }
    return g_elevationStarts;
}

class PerformingUACCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousQuery_ = osh::SetElevationQueryFunction(AnswerElevation);
        previousRun_ = osh::SetRunElevatedFunction(RecordElevatedRun);
        g_elevatedCalls.clear();
        g_elevationStarts = true;
        g_elevation = 1;
        g_elevatedChild.clear();
        scratch_ = testenv::MakeScratchDirectory(L"statesa-uac");
        temp_ = scratch_ + L"\\Temp";
        setup_ = scratch_ + L"\\SetupFiles";
        CreateDirectoryW(temp_.c_str(), nullptr);
        CreateDirectoryW(setup_.c_str(), nullptr);
    }
    void TearDown() override
    {
        osh::SetElevationQueryFunction(previousQuery_);
        osh::SetRunElevatedFunction(previousRun_);
        testenv::RemoveTree(scratch_);
    }
    void Prepare(StateWorker& worker, const std::wstring& programDirectory) const
    {
        worker.paths[ziz::evTempDir] = temp_;
        worker.paths[ziz::evInitial] = programDirectory;
        worker.paths[ziz::evSetup] = setup_;
        worker.fileNames[ziz::evInitial] = L"Setup.exe";
        worker.fileNames[ziz::evSetup] = L"Setup.exe";
    }
    osh::ElevationQueryFunction previousQuery_ = nullptr;
    osh::RunElevatedFunction previousRun_ = nullptr;
    std::wstring scratch_;
    std::wstring temp_;
    std::wstring setup_;
};

TEST_F(PerformingUACCheck, ElevatedRunsGoOnByMode)
{
    g_elevation = 0;
    const std::pair<const wchar_t*, ziz::WorkerState*> cases[] = {
        {L"/install", ziz::StateRemovingInnoInstall::Instance()},
        {L"/update", ziz::StateRemovingInnoInstall::Instance()},
        {L"/uninstall", ziz::StatePerformingSoftwareStops::Instance()},
    };
    for (const auto& c : cases) {
        StateWorker worker({L"C:\\Media\\Setup.exe", c.first});
        EXPECT_EQ(c.second, ziz::StatePerformingUACCheck::Instance()->Exec(worker)) << Narrow(c.first);
    }
    EXPECT_TRUE(g_elevatedCalls.empty());
}

// Component servicing waits for a restart, for the length of a test.
class ServicingRestartPending {
public:
    ServicingRestartPending()
    {
        HKEY key = nullptr;
        DWORD disposition = 0;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kParent, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr,
                            &key, &disposition) != ERROR_SUCCESS)
            return;
        createdParent_ = disposition == REG_CREATED_NEW_KEY;
        HKEY pending = nullptr;
        RegCreateKeyExW(key, L"RebootPending", 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &pending,
                        nullptr);
        if (pending != nullptr) RegCloseKey(pending);
        RegCloseKey(key);
    }
    ~ServicingRestartPending()
    {
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kParent) + L"\\RebootPending").c_str(), KEY_WOW64_64KEY, 0);
        if (createdParent_) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kParent, KEY_WOW64_64KEY, 0);
    }

private:
    static constexpr const wchar_t* kParent = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing";
    bool createdParent_ = false;
};

UINT g_restartFlags = 0;
BOOL WINAPI RecordRestart(UINT flags, DWORD)
{
    g_restartFlags = flags;
    return TRUE;
}

// Windows already waits for a restart when the elevated run is about to change things: a
// user is asked first (No goes on, Yes restarts and ends the run having changed nothing),
// a silent run goes on after a warning, and "/norestart" ends the run without a question.
TEST_F(PerformingUACCheck, PendingRestartIsSaidBeforeTheFirstChange)
{
    g_elevation = 0;
    const ServicingRestartPending pending;
    const auto previousRestart = osh::SetExitWindowsFunction(RecordRestart);
    const std::wstring question = L"Windows is waiting for a restart to complete an earlier installation or update."
                                  L"\n\nWould you like to restart now?";
    struct Case {
        std::vector<std::wstring> arguments;
        std::vector<int> answers;
        ziz::WorkerState* next;
        size_t boxes;
        bool restarted;
        ziz::HoldBack holdBack;
    };
    const Case cases[] = {
        {{L"C:\\Media\\Setup.exe", L"/install"}, {IDNO}, ziz::StateRemovingInnoInstall::Instance(), 1, false,
         ziz::HoldBack::None},
        {{L"C:\\Media\\Setup.exe", L"/uninstall"}, {IDYES}, ziz::StateFailed::Instance(), 1, true,
         ziz::HoldBack::RestartPending},
        {{L"C:\\Media\\Setup.exe", L"/update", L"/silent"}, {}, ziz::StateRemovingInnoInstall::Instance(), 0, false,
         ziz::HoldBack::None},
        {{L"C:\\Media\\Setup.exe", L"/install", L"/norestart"}, {}, ziz::StateFailed::Instance(), 0, false,
         ziz::HoldBack::RestartPending},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.arguments.back()));
        g_restartFlags = 0;
        StateWorker worker(c.arguments);
        testenv::MessageBoxWatcher watcher(c.answers);
        EXPECT_EQ(c.next, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
        const auto boxes = watcher.Stop();
        ASSERT_EQ(c.boxes, boxes.size());
        if (!boxes.empty()) {
            EXPECT_EQ(L"Restart required", boxes[0].caption);
            EXPECT_EQ(question, boxes[0].text);
        }
        EXPECT_EQ(c.restarted, g_restartFlags != 0);
        EXPECT_EQ(c.holdBack, worker.Report().HeldBack());
    }
    osh::SetExitWindowsFunction(previousRestart);
    EXPECT_TRUE(g_elevatedCalls.empty());
}

TEST_F(PerformingUACCheck, OtherModesFailBeforeAskingForElevation)
{
    for (const wchar_t* mode : {L"/download", L"/check", L"/appliance=E:\\"}) {
        LogCapture log;
        StateWorker worker({L"C:\\Media\\Setup.exe", mode});
        Prepare(worker, scratch_);
        EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StatePerformingUACCheck::Instance()->Exec(worker));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Invalid mode found in StatePerformingUACCheck"));
    }
    EXPECT_TRUE(g_elevatedCalls.empty());
}

TEST_F(PerformingUACCheck, NotElevatedRelaunchesWithTheSameArguments)
{
    for (HRESULT answer : {static_cast<HRESULT>(1), static_cast<HRESULT>(E_FAIL)}) {
        g_elevation = answer;
        g_elevatedCalls.clear();
        g_elevatedChild = L"cmd.exe /c exit 0";
        StateWorker worker({L"C:\\Media\\Setup.exe", L"/install", L"/migrate=D:\\Old Data", L"--viewer"});
        Prepare(worker, L"C:\\Media");
        worker.SetRestartRequired(true);
        EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
        ASSERT_EQ(1u, g_elevatedCalls.size());
        EXPECT_EQ(L"C:\\Media\\Setup.exe", g_elevatedCalls[0].file);
        // The elevated copy hands its facts back to this process, which writes the result.
        EXPECT_EQ(L"/install \"/migrate=D:\\Old Data\" --viewer /handback=" + ziz::HandBackId(),
                  g_elevatedCalls[0].parameters);
        EXPECT_EQ(temp_, g_elevatedCalls[0].directory);
        EXPECT_EQ(nullptr, g_elevatedCalls[0].window);
        EXPECT_EQ(ziz::StatusHandedOver, worker.GetLastStatus());
        EXPECT_FALSE(worker.IsRestartRequired());
    }
}

TEST_F(PerformingUACCheck, RelaunchWaitsForTheElevatedRunAndEndsWithItsExitCode)
{
    for (int code : {3010, -1}) {
        LogCapture log;
        g_elevatedCalls.clear();
        g_elevatedChild = L"cmd.exe /c exit " + std::to_wstring(code);
        StateWorker worker({L"C:\\Media\\Setup.exe", L"/install"});
        Prepare(worker, L"C:\\Media");
        EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
        EXPECT_EQ((std::vector<Notification>{{ziz::StatusHandingOver, 0, 0}, {ziz::StatusHandedOver, code, 0}}),
                  worker.notifications);
        EXPECT_TRUE(worker.Report().HandedOver());
        EXPECT_EQ(code, worker.Report().ChildExitCode());
        const int started = log.IndexOf("Started C:\\Media\\Setup.exe (process " + std::to_string(g_elevatedChildId) +
                                        "), waiting for it to end");
        const int ended = log.IndexOf("C:\\Media\\Setup.exe ended with exit code " + std::to_string(code));
        EXPECT_GE(started, 0);
        EXPECT_GT(ended, started);
    }
}

TEST_F(PerformingUACCheck, ArgumentsAreQuotedSoTheElevatedRunReadsThemUnchanged)
{
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/install", L"/result=C:\\My Media\\", L"/note=say \"hi\"", L"",
                        L"C:\\plain\\"});
    Prepare(worker, L"C:\\Media");
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    ASSERT_EQ(1u, g_elevatedCalls.size());
    // "/result=" stays with this process, which writes the file with the caller's rights.
    EXPECT_EQ(L"/install \"/note=say \\\"hi\\\"\" \"\" C:\\plain\\ /handback=" + ziz::HandBackId(),
              g_elevatedCalls[0].parameters);
}

TEST_F(PerformingUACCheck, ProgramPathAloneRelaunchesWithOnlyTheHandBack)
{
    StateWorker worker({L"C:\\Media\\Setup.exe"});
    Prepare(worker, L"C:\\Media\\");
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    ASSERT_EQ(1u, g_elevatedCalls.size());
    EXPECT_EQ(L"/handback=" + ziz::HandBackId(), g_elevatedCalls[0].parameters);
    EXPECT_EQ(L"C:\\Media\\Setup.exe", g_elevatedCalls[0].file);
}

TEST_F(PerformingUACCheck, StartedFromTheSetupDirectoryRunsFromACopyInTheTemporaryDirectory)
{
    testsupport::WriteTextFile(setup_ + L"\\Setup.exe", "the program");
    StateWorker worker({L"C:\\Media\\Setup.exe", L"/uninstall"});
    Prepare(worker, setup_);
    worker.paths[ziz::evInitial] = scratch_ + L"\\SETUPFILES";
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    ASSERT_EQ(1u, g_elevatedCalls.size());
    EXPECT_EQ(temp_ + L"\\Setup.exe", g_elevatedCalls[0].file);
    EXPECT_EQ("the program", testsupport::ReadTextFile(temp_ + L"\\Setup.exe"));
    EXPECT_EQ(L"/uninstall /handback=" + ziz::HandBackId(), g_elevatedCalls[0].parameters);

    // A copy that is already there is not overwritten: the relaunch fails instead.
    LogCapture log;
    StateWorker again({L"C:\\Media\\Setup.exe", L"/uninstall"});
    Prepare(again, setup_);
    EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StatePerformingUACCheck::Instance()->Exec(again));
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to copy app to temp directory"));
    EXPECT_EQ(1u, g_elevatedCalls.size());
}

TEST_F(PerformingUACCheck, RefusedRelaunchEndsWithFailure)
{
    g_elevationStarts = false;
    StateWorker worker;
    Prepare(worker, L"C:\\Media");
    EXPECT_EQ(nullptr, ziz::StatePerformingUACCheck::Instance()->Exec(worker));
    EXPECT_EQ((std::vector<Notification>{{ziz::StatusFailed, 0, 0}}), worker.notifications);
}

TEST_F(PerformingUACCheck, UnknownPathsFail)
{
    for (int missing : {0, 1, 5}) {
        for (bool fileName : {false, true}) {
            if (fileName && missing == 5) continue;
            LogCapture log;
            StateWorker worker;
            Prepare(worker, L"C:\\Media");
            (fileName ? worker.fileNames : worker.paths).erase(missing);
            EXPECT_EQ(ziz::StateFailed::Instance(), ziz::StatePerformingUACCheck::Instance()->Exec(worker));
            EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Unable to discover directory paths"));
        }
    }
    EXPECT_TRUE(g_elevatedCalls.empty());
}

}  // namespace
