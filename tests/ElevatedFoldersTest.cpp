// The folders an elevated run writes into: the rules (which owners pass, which folder is
// chosen), folders only administrators can change read back from the real platform, the
// refusal of a folder owned by someone else or reached through a link, and the removal of
// a run's folders.
#include "app/LogFolderChoice.h"
#include "engine/ElevatedWorkFolder.h"
#include "engine/OSWorker.h"
#include "osh/FileSystem.h"
#include "osh/FolderTrust.h"
#include "osh/ReparsePoint.h"
#include "osh/SecureFolder.h"
#include "osh/Text.h"
#include "support/BrokenPlatform.h"
#include "support/EndToEnd.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"
#include "support/VendorConfigFile.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

using testenv::Narrow;
using testsupport::LogCapture;

const wchar_t kAdministrators[] = L"S-1-5-32-544";
const wchar_t kSystem[] = L"S-1-5-18";
const wchar_t kUsers[] = L"S-1-5-32-545";
const wchar_t kSomeUser[] = L"S-1-5-21-1004336348-1177238915-682003330-1001";

// ---- the rules -------------------------------------------------------------------------

TEST(FolderTrustRules, OnlyAdministratorsAndSystemAreTrustedOwners)
{
    const struct {
        const wchar_t* sid;
        bool trusted;
    } cases[] = {
        {kAdministrators, true},
        {kSystem, true},
        {kUsers, false},
        {L"S-1-5-11", false},          // authenticated users
        {L"S-1-1-0", false},           // everyone
        {L"S-1-5-32-5440", false},     // a longer SID that starts like Administrators
        {L"S-1-5-18-1", false},
        {kSomeUser, false},
        {L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464", false},  // a service
        {L"", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.trusted, osh::IsTrustedOwner(c.sid)) << Narrow(c.sid);
    // The owner of the Windows folder counts as the system; an empty one trusts nothing.
    EXPECT_TRUE(osh::IsTrustedOwner(kSomeUser, kSomeUser));
    EXPECT_FALSE(osh::IsTrustedOwner(kUsers, kSomeUser));
    EXPECT_FALSE(osh::IsTrustedOwner(L"", L""));
    EXPECT_TRUE(osh::IsTrustedOwner(kSystem, kSomeUser));
}

osh::FolderFacts Facts(bool link, bool ownerKnown, const std::wstring& owner, bool createdByThisRun,
                       const std::wstring& systemOwner = L"")
{
    osh::FolderFacts facts;
    facts.path = L"C:\\ProgramData\\Norlo 5\\log";
    facts.crossesLink = link;
    facts.link = L"C:\\ProgramData\\Norlo 5";
    facts.ownedFolder = L"C:\\ProgramData\\Norlo 5\\log";
    facts.ownerKnown = ownerKnown;
    facts.ownerSid = owner;
    facts.createdByThisRun = createdByThisRun;
    facts.systemOwnerSid = systemOwner;
    return facts;
}

TEST(FolderTrustRules, ALinkOnTheWayOrAnUntrustedOwnerRefusesTheFolder)
{
    const std::string linkReason = "the link C:\\ProgramData\\Norlo 5 lies on its way";
    const struct {
        osh::FolderFacts facts;
        bool usable;
        std::string reason;
    } cases[] = {
        {Facts(false, true, kAdministrators, false), true, ""},
        {Facts(false, true, kSystem, false), true, ""},
        {Facts(false, true, kSomeUser, false), false,
         "C:\\ProgramData\\Norlo 5\\log is owned by S-1-5-21-1004336348-1177238915-682003330-1001, not by "
         "Administrators or SYSTEM"},
        {Facts(false, true, kUsers, false), false,
         "C:\\ProgramData\\Norlo 5\\log is owned by S-1-5-32-545, not by Administrators or SYSTEM"},
        {Facts(false, false, L"", false), false, "the owner of C:\\ProgramData\\Norlo 5\\log cannot be read"},
        {Facts(false, true, kSomeUser, false, kSomeUser), true, ""},  // owned as the Windows folder is
        {Facts(false, false, L"", false, kSomeUser), false, "the owner of C:\\ProgramData\\Norlo 5\\log cannot be read"},
        // A link refuses the folder whoever owns it, even one the run made itself.
        {Facts(true, true, kAdministrators, false), false, linkReason},
        {Facts(true, true, kAdministrators, true), false, linkReason},
        // What the run made itself needs no owner question.
        {Facts(false, false, L"", true), true, ""},
        {Facts(false, true, kSomeUser, true), true, ""},
    };
    for (const auto& c : cases) {
        const osh::FolderVerdict verdict = osh::JudgeFolder(c.facts);
        EXPECT_EQ(c.usable, verdict.usable) << c.reason;
        EXPECT_EQ(c.reason, verdict.reason);
    }
}

// Rights that let someone change an object or what a folder holds; reading, listing and
// running do not.
TEST(FolderTrustRules, OnlyAdministratorsSystemAndTheCreatorMayChangeWhatAnElevatedRunTrusts)
{
    const unsigned long kRead = 0x1200a9;  // read, list, execute, synchronize
    const struct {
        std::vector<osh::AccessEntry> entries;
        std::wstring writer;
    } cases[] = {
        {{}, L""},
        {{{kSystem, 0x1f01ff}, {kAdministrators, 0x1f01ff}, {kUsers, kRead}}, L""},
        {{{L"S-1-3-0", 0x1f01ff}, {L"S-1-1-0", kRead}}, L""},                     // CREATOR OWNER; everyone reads
        {{{kSystem, 0x1f01ff}, {L"S-1-5-11", 0x1f01ff}}, L"S-1-5-11"},            // authenticated users: full
        {{{kUsers, 0x2}}, kUsers},                                                // add a file
        {{{kUsers, 0x4}}, kUsers},                                                // add a folder
        {{{kUsers, 0x40}}, kUsers},                                               // delete a child
        {{{kUsers, 0x10000}}, kUsers},                                            // delete
        {{{kUsers, 0x40000}}, kUsers},                                            // change the access list
        {{{kUsers, 0x80000}}, kUsers},                                            // take ownership
        {{{kUsers, 0x100}}, kUsers},                                              // write attributes
        {{{kUsers, 0x10000000}}, kUsers},                                         // generic all
        {{{kUsers, 0x40000000}}, kUsers},                                         // generic write
        {{{kUsers, kRead}, {kSomeUser, 0x6}, {L"S-1-5-11", 0x2}}, kSomeUser},     // the first one is named
        {{{L"", 0x2}}, L"an unknown principal"},
    };
    for (const auto& c : cases) {
        osh::AccessList list;
        list.present = true;
        list.entries = c.entries;
        EXPECT_EQ(Narrow(c.writer), Narrow(osh::FirstUntrustedWriter(list, L"")));
    }
    // The owner of the Windows folder is the system's own.
    osh::AccessList list;
    list.present = true;
    list.entries = {{kSomeUser, 0x1f01ff}};
    EXPECT_EQ(L"", osh::FirstUntrustedWriter(list, kSomeUser));
}

osh::AccessFacts SettingsFile(bool ownerKnown, const std::wstring& owner, bool listKnown, bool present,
                              std::vector<osh::AccessEntry> entries)
{
    osh::AccessFacts facts;
    facts.path = L"C:\\ProgramData\\Norlo 5\\.vendor.config";
    facts.ownerKnown = ownerKnown;
    facts.ownerSid = owner;
    facts.listKnown = listKnown;
    facts.list.present = present;
    facts.list.entries = std::move(entries);
    return facts;
}

TEST(FolderTrustRules, AnOverrideFileSteersAnElevatedRunOnlyWhenNoStandardUserCanChangeIt)
{
    const std::string file = "C:\\ProgramData\\Norlo 5\\.vendor.config";
    const std::vector<osh::AccessEntry> adminOnly = {{kSystem, 0x1f01ff}, {kAdministrators, 0x1f01ff}, {kUsers, 0x1200a9}};
    const struct {
        osh::AccessFacts facts;
        std::string reason;
    } cases[] = {
        {SettingsFile(true, kAdministrators, true, true, adminOnly), ""},
        {SettingsFile(true, kSystem, true, true, adminOnly), ""},
        {SettingsFile(true, kSomeUser, true, true, adminOnly),
         file + " is owned by " + Narrow(kSomeUser) + ", not by Administrators or SYSTEM"},
        {SettingsFile(false, L"", true, true, adminOnly), "the owner of " + file + " cannot be read"},
        {SettingsFile(true, kAdministrators, false, true, adminOnly), "the access list of " + file + " cannot be read"},
        {SettingsFile(true, kAdministrators, true, false, {}), file + " has no access list, anyone may change it"},
        {SettingsFile(true, kAdministrators, true, true, {{kSystem, 0x1f01ff}, {L"S-1-5-11", 0x1301bf}}),
         file + " lets S-1-5-11 change it"},
    };
    for (const auto& c : cases) {
        const osh::FolderVerdict verdict = osh::JudgeAccess(c.facts);
        EXPECT_EQ(c.reason.empty(), verdict.usable) << c.reason;
        EXPECT_EQ(c.reason, verdict.reason);
    }
}

TEST(FolderTrustRules, AnExistingFolderIsJudgedByItsAccessListAndAPathOutsideItsPlaceIsRefused)
{
    osh::FolderFacts existing = Facts(false, true, kAdministrators, false);
    existing.exists = true;
    existing.listKnown = true;
    existing.list.present = true;
    existing.list.entries = {{kSystem, 0x1f01ff}, {kAdministrators, 0x1f01ff}, {kUsers, 0x1200a9}};
    EXPECT_TRUE(osh::JudgeFolder(existing).usable);
    // The all-users folder a run without elevation makes: anyone signed in may change it.
    existing.list.entries.push_back({L"S-1-5-11", 0x1f01ff});
    EXPECT_EQ("C:\\ProgramData\\Norlo 5\\log lets S-1-5-11 change it", osh::JudgeFolder(existing).reason);
    existing.listKnown = false;
    EXPECT_EQ("the access list of C:\\ProgramData\\Norlo 5\\log cannot be read", osh::JudgeFolder(existing).reason);
    // What the run made itself is its own; a folder still to be made is judged by its owner above.
    existing.createdByThisRun = true;
    EXPECT_TRUE(osh::JudgeFolder(existing).usable);
    osh::FolderFacts missing = Facts(false, true, kAdministrators, false);
    missing.listKnown = false;
    EXPECT_TRUE(osh::JudgeFolder(missing).usable);

    // Outside the folder it belongs in, after a link (which could lead anywhere) and before the owner.
    osh::FolderFacts outside = Facts(false, true, kAdministrators, true);
    outside.outside = true;
    outside.within = L"C:\\ProgramData\\Norlo 5";
    EXPECT_EQ("it lies outside C:\\ProgramData\\Norlo 5", osh::JudgeFolder(outside).reason);
    outside.crossesLink = true;
    EXPECT_EQ("the link C:\\ProgramData\\Norlo 5 lies on its way", osh::JudgeFolder(outside).reason);
}

TEST(FolderTrustRules, OnlyARefusedFolderOfAnElevatedRunIsReplacedByTheWorkFolder)
{
    const osh::FolderVerdict usable{true, ""};
    const osh::FolderVerdict refused{false, "owned by someone"};
    const std::wstring named = L"C:\\ProgramData\\Norlo 5\\log";
    const std::wstring work = L"C:\\Windows\\Temp\\Norlo-1";
    const struct {
        bool elevated;
        osh::FolderVerdict verdict;
        std::wstring work;
        std::wstring chosen;
    } cases[] = {
        {false, usable, work, named},
        {false, refused, work, named},  // a run without elevation writes where it always did
        {true, usable, work, named},
        {true, refused, work, work},
        {true, refused, L"", L""},  // no safe place: nowhere rather than the refused folder
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.chosen, osh::ChooseWriteFolder(c.elevated, named, c.verdict, c.work))
            << c.elevated << c.verdict.usable;
}

TEST(FolderTrustRules, RefusalLineNamesWhatWhereWhyAndTheFallback)
{
    EXPECT_EQ("Refusing the log folder C:\\x\\log: the link C:\\x lies on its way; using C:\\Windows\\Temp\\N "
              "instead",
              osh::RefusalLine("the log folder", L"C:\\x\\log", osh::FolderVerdict{false, "the link C:\\x lies on its way"},
                               L"C:\\Windows\\Temp\\N"));
}

// ---- the platform ----------------------------------------------------------------------

// The Unix path of a Windows path (Wine's own export), so the Unix side can make a link.
std::string UnixPathOf(const std::wstring& path)
{
    using Function = char*(CDECL*)(LPCWSTR);
    const auto function =
        reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (function == nullptr) return std::string();
    char* unix = function(path.c_str());
    if (unix == nullptr) return std::string();
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

void RemoveLinkFromUnix(const std::wstring& link)
{
    const std::string unixLink = UnixPathOf(link);
    if (!unixLink.empty()) testenv::Run(L"Z:\\bin\\rm -f \"" + testenv::Widen(unixLink) + L"\"", 60000);
    for (int i = 0; i < 100 && osh::IsReparsePoint(link); ++i) Sleep(50);
}

// A symbolic link at `link` (which must not exist) to the folder `target`, made on the
// Unix side: Wine shows it as a reparse point.
bool MakeLink(const std::wstring& target, const std::wstring& link)
{
    std::wstring parent, name;
    if (!osh::SplitPath(link, parent, name)) return false;
    const std::string unixTarget = UnixPathOf(target);
    const std::string unixParent = UnixPathOf(parent);
    if (unixTarget.empty() || unixParent.empty()) return false;
    testenv::Run(L"Z:\\bin\\ln -s \"" + testenv::Widen(unixTarget) + L"\" \"" + testenv::Widen(unixParent) + L"/" +
                     name + L"\"",
                 60000);
    for (int i = 0; i < 100 && !osh::IsReparsePoint(link); ++i) Sleep(50);
    return osh::IsReparsePoint(link);
}

void WriteText(const std::wstring& path, const std::string& text) { std::ofstream(path.c_str()) << text; }

std::string ReadText(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class Scratch : public ::testing::Test {
protected:
    void SetUp() override { scratch_ = testenv::MakeScratchDirectory(L"elevated-folders"); }
    void TearDown() override
    {
        // Links first, so the tree removal below cannot walk into what they point to.
        for (const std::wstring& link : links_) {
            if (osh::IsReparsePoint(link)) RemoveLinkFromUnix(link);
        }
        testenv::RemoveTree(scratch_);
    }
    std::wstring Link(const std::wstring& target, const std::wstring& link)
    {
        links_.push_back(link);
        if (!MakeLink(target, link)) ADD_FAILURE() << "no link at " << Narrow(link);
        return link;
    }

    std::wstring scratch_;
    std::vector<std::wstring> links_;
};

std::string g_passedDescriptor;

// Records the descriptor CreateAdminOnlyDirectory hands over (this file system keeps none
// that could be read back), then creates the folder for real.
BOOL WINAPI RecordingCreate(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes)
{
    g_passedDescriptor = "<none>";
    LPWSTR text = nullptr;
    if (attributes != nullptr && attributes->lpSecurityDescriptor != nullptr &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(attributes->lpSecurityDescriptor, SDDL_REVISION_1,
                                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
        g_passedDescriptor = Narrow(text);
        LocalFree(text);
    }
    return CreateDirectoryW(path, attributes);
}

class RecordedCreation {
public:
    RecordedCreation() : previous_(osh::SetAdminOnlyCreateFunction(&RecordingCreate)) { g_passedDescriptor.clear(); }
    ~RecordedCreation() { osh::SetAdminOnlyCreateFunction(previous_); }

private:
    osh::AdminOnlyCreateFunction previous_;
};

const char kAdminOnlySddl[] = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

TEST_F(Scratch, AdminOnlyFolderIsOwnedByAdministratorsAndClosedToUsersWrites)
{
    RecordedCreation recorded;
    const std::wstring folder = scratch_ + L"\\admin only";
    ASSERT_TRUE(osh::CreateAdminOnlyDirectory(folder));
    EXPECT_EQ(kAdminOnlySddl, g_passedDescriptor);
    EXPECT_TRUE(osh::IsDirectory(folder));

    // What is already there is never taken for a folder of the run's own.
    EXPECT_FALSE(osh::CreateAdminOnlyDirectory(folder));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
}

std::wstring g_plantedFolder;
osh::OwnerQueryFunction g_realOwnerQuery = nullptr;

// The planted folder is owned by another user; everything else answers as it is.
bool PlantedOwner(const std::wstring& path, std::wstring& owner)
{
    if (osh::EqualsIgnoreAsciiCase(path, g_plantedFolder)) {
        owner = kSomeUser;
        return true;
    }
    return g_realOwnerQuery(path, owner);
}

// Wine keeps no owner that SetNamedSecurityInfoW sets here: the owner query is the seam.
class PlantedFolderOwner {
public:
    explicit PlantedFolderOwner(const std::wstring& folder)
    {
        g_plantedFolder = folder;
        g_realOwnerQuery = osh::SetOwnerQueryFunction(&PlantedOwner);
    }
    ~PlantedFolderOwner() { osh::SetOwnerQueryFunction(g_realOwnerQuery); }
    PlantedFolderOwner(const PlantedFolderOwner&) = delete;
    PlantedFolderOwner& operator=(const PlantedFolderOwner&) = delete;
};

TEST_F(Scratch, FolderOwnedByAnotherSidIsRefusedNamingItsOwner)
{
    const std::wstring folder = scratch_ + L"\\planted";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    PlantedFolderOwner planted(folder);
    osh::FolderVerdict verdict = osh::CheckFolderForElevatedWrite(folder);
    EXPECT_FALSE(verdict.usable);
    const std::string reason =
        Narrow(folder) + " is owned by " + Narrow(kSomeUser) + ", not by Administrators or SYSTEM";
    EXPECT_EQ(reason, verdict.reason);
    // A folder still to be made below it is judged by the owner of the one above.
    verdict = osh::CheckFolderForElevatedWrite(folder + L"\\log\\deeper");
    EXPECT_FALSE(verdict.usable);
    EXPECT_EQ(reason, verdict.reason);
    // The owner of the Windows folder would pass (what the real owner query gives here).
    std::wstring own;
    ASSERT_TRUE(g_realOwnerQuery(scratch_, own));
    EXPECT_TRUE(osh::CheckFolderForElevatedWrite(scratch_ + L"\\other", own).usable);
    EXPECT_FALSE(osh::CheckFolderForElevatedWrite(folder, own).usable);
}

TEST_F(Scratch, FolderReachedThroughALinkIsRefusedNamingTheLink)
{
    const std::wstring target = scratch_ + L"\\elsewhere";
    ASSERT_TRUE(osh::CreateAdminOnlyDirectory(target));
    const std::wstring link = Link(target, scratch_ + L"\\log");
    for (const std::wstring& path : {link, link + L"\\below"}) {
        const osh::FolderVerdict verdict = osh::CheckFolderForElevatedWrite(path);
        EXPECT_FALSE(verdict.usable) << Narrow(path);
        EXPECT_EQ("the link " + Narrow(link) + " lies on its way", verdict.reason);
    }
}

TEST_F(Scratch, RemovalNeverEntersALinkToAFolder)
{
    const std::wstring outside = scratch_ + L"\\outside";
    ASSERT_TRUE(CreateDirectoryW(outside.c_str(), nullptr));
    WriteText(outside + L"\\precious.txt", "keep me");

    const std::wstring tree = scratch_ + L"\\tree";
    ASSERT_TRUE(osh::CreateAdminOnlyDirectory(tree));
    ASSERT_TRUE(CreateDirectoryW((tree + L"\\sub").c_str(), nullptr));
    WriteText(tree + L"\\sub\\file.txt", "x");
    WriteText(tree + L"\\readonly.txt", "x");
    SetFileAttributesW((tree + L"\\readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    const std::wstring link = Link(outside, tree + L"\\sub\\link");

    LogCapture log;
    // Windows removes the link itself; Wine refuses to delete a Unix link to a folder that
    // is not empty (error 145), so the link and the folders above it stay there.
    osh::RemoveTreeWithoutFollowingLinks(tree);
    EXPECT_EQ("keep me", ReadText(outside + L"\\precious.txt"));
    EXPECT_FALSE(Exists(tree + L"\\readonly.txt"));
    EXPECT_FALSE(Exists(tree + L"\\sub\\file.txt"));
    for (const auto& line : log.Lines())
        EXPECT_EQ("Could not remove " + Narrow(link) + " (error 145)", line.text) << "only the link may stay";
}

TEST_F(Scratch, RemovalKeepsTheNamedFileAndItsFolder)
{
    const std::wstring tree = scratch_ + L"\\work";
    ASSERT_TRUE(osh::CreateAdminOnlyDirectory(tree));
    WriteText(tree + L"\\setup.log", "the run's log");
    WriteText(tree + L"\\setup.cmd", "@echo hook");
    ASSERT_TRUE(CreateDirectoryW((tree + L"\\sub").c_str(), nullptr));
    EXPECT_TRUE(osh::RemoveTreeWithoutFollowingLinks(tree, L"setup.log"));
    EXPECT_EQ("the run's log", ReadText(tree + L"\\setup.log"));
    EXPECT_FALSE(Exists(tree + L"\\setup.cmd"));
    EXPECT_FALSE(Exists(tree + L"\\sub"));
}

// ---- the run's folders -----------------------------------------------------------------

std::wstring ParentOf(const std::wstring& path)
{
    std::wstring parent, name;
    osh::SplitPath(path, parent, name);
    while (parent.size() > 3 && parent.back() == L'\\') parent.pop_back();
    return parent;
}

std::wstring SystemTemp()
{
    wchar_t windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Temp";
}

class RunFolders : public ::testing::Test {
protected:
    void TearDown() override { ziz::RemoveRunFolders(); }
};

TEST_F(RunFolders, ElevatedRunWorksInAnAdminOnlyFolderBelowTheSystemTempAndRemovesIt)
{
    ziz::RemoveRunFolders();  // a work folder of an earlier test of this process
    RecordedCreation recorded;
    ziz::OSWorker worker;
    std::wstring work;
    ASSERT_TRUE(worker.GetPath(work, ziz::evTempDir));
    EXPECT_EQ(work, ziz::ElevatedWorkFolder());
    EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(SystemTemp(), ParentOf(work))) << Narrow(work);

    // What the run writes and then runs: the hook script, a script of the appliance, a
    // temporary file, each in a folder of its own inside the work folder.
    const std::wstring hook = worker.GetSetupScriptPath();
    const std::wstring appliance = worker.GetApplianceScriptPath();
    EXPECT_EQ(kAdminOnlySddl, g_passedDescriptor) << "the appliance script's folder";
    std::wstring temporary;
    ASSERT_TRUE(worker.CreateTempFile(temporary));
    for (const std::wstring& file : {hook, appliance, temporary}) {
        ASSERT_TRUE(Exists(file)) << Narrow(file);
        EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(work, ParentOf(ParentOf(file)))) << Narrow(file);
    }

    ziz::RemoveRunFolders();
    EXPECT_FALSE(Exists(work));
    // The next run makes a fresh one.
    const std::wstring next = ziz::ElevatedWorkFolder();
    EXPECT_NE(work, next);
    EXPECT_TRUE(Exists(next));
}

TEST_F(RunFolders, RunWithoutElevationUsesTheUsersTempAndRemovesWhatItMade)
{
    testsupport::NotElevated notElevated;
    EXPECT_EQ(L"", ziz::ElevatedWorkFolder());
    ziz::OSWorker worker;
    std::wstring temp, script;
    ASSERT_TRUE(worker.GetPath(temp, ziz::evTempDir));
    script = worker.GetSetupScriptPath();
    wchar_t userTemp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, userTemp);
    for (const std::wstring& folder : {temp, ParentOf(script)}) {
        EXPECT_TRUE(osh::EqualsIgnoreAsciiCase(ParentOf(std::wstring(userTemp) + L"x"), ParentOf(folder)))
            << Narrow(folder);
        EXPECT_TRUE(Exists(folder));
    }
    ziz::RemoveRunFolders();
    EXPECT_FALSE(Exists(temp));
    EXPECT_FALSE(Exists(script));
}

TEST_F(RunFolders, ElevatedRunRefusesAPlantedLogFolderAndLogsToItsWorkFolder)
{
    const std::wstring scratch = testenv::MakeScratchDirectory(L"planted-log");
    const std::wstring planted = scratch + L"\\log";
    ASSERT_TRUE(CreateDirectoryW(planted.c_str(), nullptr));
    PlantedFolderOwner plantedOwner(planted);
    std::string refusal;
    LogCapture log;
    const std::wstring chosen = ziz::SafeWriteFolder("the log folder", planted, refusal);
    ASSERT_NE(L"", chosen);
    EXPECT_EQ(ziz::ElevatedWorkFolder(), chosen);
    EXPECT_EQ("Refusing the log folder " + Narrow(planted) + ": " + Narrow(planted) + " is owned by " +
                  Narrow(kSomeUser) + ", not by Administrators or SYSTEM; using " + Narrow(chosen) + " instead",
              refusal);
    {
        testsupport::NotElevated notElevated;
        EXPECT_EQ(planted, ziz::SafeWriteFolder("the log folder", planted, refusal));
        EXPECT_EQ("", refusal);
    }
    testenv::RemoveTree(scratch);
}

// ---- the override file and the log folder ----------------------------------------------

std::wstring g_userWritable;
osh::AccessListQueryFunction g_realAccessListQuery = nullptr;

// The named object lets authenticated users change it; everything else answers as it is.
bool UserWritableList(const std::wstring& path, HANDLE handle, osh::AccessList& list)
{
    if (!osh::EqualsIgnoreAsciiCase(path, g_userWritable)) return g_realAccessListQuery(path, handle, list);
    list.present = true;
    list.entries = {{kSystem, 0x1f01ff}, {kAdministrators, 0x1f01ff}, {L"S-1-5-11", 0x1301bf}};
    return true;
}

// Wine keeps no access list set on a file: the query is the seam.
class UserWritable {
public:
    explicit UserWritable(const std::wstring& path)
    {
        g_userWritable = path;
        g_realAccessListQuery = osh::SetAccessListQueryFunction(&UserWritableList);
    }
    ~UserWritable() { osh::SetAccessListQueryFunction(g_realAccessListQuery); }
    UserWritable(const UserWritable&) = delete;
    UserWritable& operator=(const UserWritable&) = delete;
};

std::wstring SystemFolder()
{
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system, length);
}

// A standard user writes ".vendor.config" to move the data folder, and with it the log
// folder the elevated run would make, below the system folder.
class AimedBelowTheSystemFolder : public RunFolders {
protected:
    void TearDown() override
    {
        osh::RemoveTreeWithoutFollowingLinks(aimed_);
        RunFolders::TearDown();
    }
    const std::wstring aimed_ = SystemFolder() + L"\\norlo-aimed-data";
    const std::wstring log_ = testenv::ProductDataDirectory() + L"\\log";
};

TEST_F(AimedBelowTheSystemFolder, AnOverrideFileOwnedByAUserIsIgnored)
{
    testenv::VendorConfigFile override(testenv::DataPathLine(aimed_));
    PlantedFolderOwner plantedOwner(override.Path());
    std::vector<std::string> warnings;
    const std::wstring chosen = app::ChooseLogFolder(warnings);
    EXPECT_FALSE(Exists(aimed_)) << "nothing made below the system folder";
    EXPECT_EQ(Narrow(log_), Narrow(chosen)) << "the compiled-in log folder";
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ("Ignoring the path settings of " + Narrow(override.Path()) + ": " + Narrow(override.Path()) +
                  " is owned by " + Narrow(kSomeUser) + ", not by Administrators or SYSTEM",
              warnings.front());
}

TEST_F(AimedBelowTheSystemFolder, AnOverrideFileUsersMayChangeIsIgnored)
{
    testenv::VendorConfigFile override(testenv::DataPathLine(aimed_));
    UserWritable writable(override.Path());
    std::vector<std::string> warnings;
    EXPECT_EQ(Narrow(log_), Narrow(app::ChooseLogFolder(warnings)));
    EXPECT_FALSE(Exists(aimed_));
    ASSERT_FALSE(warnings.empty());
    EXPECT_EQ("Ignoring the path settings of " + Narrow(override.Path()) + ": " + Narrow(override.Path()) +
                  " lets S-1-5-11 change it",
              warnings.front());
}

// The all-users log folder a run without elevation made: anyone may plant files in it.
TEST_F(RunFolders, ALogFolderUsersMayChangeIsRefused)
{
    CreateDirectoryW(testenv::ProductDataDirectory().c_str(), nullptr);
    const std::wstring log = testenv::ProductDataDirectory() + L"\\log";
    CreateDirectoryW(log.c_str(), nullptr);
    UserWritable writable(log);
    std::vector<std::string> warnings;
    const std::wstring chosen = app::ChooseLogFolder(warnings);
    EXPECT_EQ(Narrow(ziz::ElevatedWorkFolder()), Narrow(chosen));
    EXPECT_EQ(std::vector<std::string>{"Refusing the log folder " + Narrow(log) + ": " + Narrow(log) +
                                       " lets S-1-5-11 change it; using " + Narrow(chosen) + " instead"},
              warnings);
}

// ---- the real program -------------------------------------------------------------------

std::vector<std::wstring> WorkFoldersNow()
{
    std::vector<std::wstring> folders;
    WIN32_FIND_DATAW entry = {};
    HANDLE find = FindFirstFileW((SystemTemp() + L"\\Norlo-*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return folders;
    do {
        folders.push_back(SystemTemp() + L"\\" + entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return folders;
}

std::vector<std::wstring> EntriesOf(const std::wstring& folder)
{
    std::vector<std::wstring> files, dirs;
    osh::ListDirectory(folder, files, dirs);
    files.insert(files.end(), dirs.begin(), dirs.end());
    return files;
}

// Runs of the real program: the work folders they leave are found and removed afterwards.
class RealRun : public Scratch {
protected:
    void SetUp() override
    {
        Scratch::SetUp();
        before_ = WorkFoldersNow();
    }
    void TearDown() override
    {
        Scratch::TearDown();  // the links first
        for (const std::wstring& folder : newFolders_) osh::RemoveTreeWithoutFollowingLinks(folder);
    }
    std::vector<std::wstring> NewWorkFolders()
    {
        for (const std::wstring& folder : WorkFoldersNow()) {
            bool old = false;
            for (const std::wstring& known : before_) old = old || known == folder;
            if (!old) newFolders_.push_back(folder);
        }
        return newFolders_;
    }
    // The log of the one work folder the run kept, which holds nothing else.
    std::string KeptLog(std::wstring& work)
    {
        const std::vector<std::wstring> created = NewWorkFolders();
        if (created.size() != 1u) {
            ADD_FAILURE() << created.size() << " new work folders, expected one kept for its log";
            return std::string();
        }
        work = created.front();
        EXPECT_EQ(std::vector<std::wstring>{L"setup.log"}, EntriesOf(work)) << "the rest was removed at the end";
        return ReadText(work + L"\\setup.log");
    }

    std::vector<std::wstring> before_, newFolders_;
};

// The product's log folder replaced by a link to a folder elsewhere, as another user could
// have left it; the real folder is put back at the end.
class PlantedLogLink : public RealRun {
protected:
    void SetUp() override
    {
        RealRun::SetUp();
        logFolder_ = testenv::ProductDataDirectory() + L"\\log";
        aside_ = logFolder_ + L".planted-aside";
        CreateDirectoryW(testenv::ProductDataDirectory().c_str(), nullptr);
        movedAside_ = MoveFileW(logFolder_.c_str(), aside_.c_str()) != FALSE;
        target_ = scratch_ + L"\\where the link leads";
        ASSERT_TRUE(CreateDirectoryW(target_.c_str(), nullptr));
        Link(target_, logFolder_);
    }
    void TearDown() override
    {
        RealRun::TearDown();
        if (movedAside_) MoveFileW(aside_.c_str(), logFolder_.c_str());
    }

    std::wstring logFolder_, aside_, target_;
    bool movedAside_ = false;
};

TEST_F(PlantedLogLink, ElevatedRunLogsToItsWorkFolderAndLeavesTheLinkTargetAlone)
{
    endtoend::RunSetup(L"/silent /check", 120000);
    EXPECT_TRUE(EntriesOf(target_).empty()) << "nothing written where the link leads";
    std::wstring work;
    const std::string log = KeptLog(work);
    const std::string refusal = "setup:W:Refusing the log folder " + Narrow(logFolder_) + ": the link " +
                                Narrow(logFolder_) + " lies on its way; using " + Narrow(work) + " instead";
    EXPECT_NE(std::string::npos, log.find(refusal)) << log;
    EXPECT_NE(std::string::npos, log.find("Setup ended, mode CHECK")) << log;
}

// An override file that a standard user could write moves the data folder behind a link.
TEST_F(RealRun, VendorFileThatMovesTheDataFolderBehindALinkIsRefused)
{
    const std::wstring target = scratch_ + L"\\where the link leads";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    const std::wstring link = Link(target, scratch_ + L"\\data");
    {
        testenv::VendorConfigFile override(testenv::DataPathLine(link));
        endtoend::RunSetup(L"/silent /check", 120000);
    }
    EXPECT_TRUE(EntriesOf(target).empty()) << "no log folder made where the link leads";
    std::wstring work;
    const std::string log = KeptLog(work);
    const std::string refusal = "setup:W:Refusing the log folder " + Narrow(link) + "\\log: the link " + Narrow(link) +
                                " lies on its way; using " + Narrow(work) + " instead";
    EXPECT_NE(std::string::npos, log.find(refusal)) << log;
}

// The setup files replaced by a link to a folder elsewhere before an elevated install, as
// another user could leave them; the real folder is put back at the end.
class PlantedSetupFilesLink : public RealRun {
protected:
    void SetUp() override
    {
        RealRun::SetUp();
        endtoend::UninstallWhatRunsLeft();
        endtoend::LayOutRelease();
        setupFiles_ = testenv::ProductDataDirectory() + L"\\SetupFiles";
        aside_ = setupFiles_ + L".planted-aside";
        CreateDirectoryW(testenv::ProductDataDirectory().c_str(), nullptr);
        movedAside_ = MoveFileW(setupFiles_.c_str(), aside_.c_str()) != FALSE;
        target_ = scratch_ + L"\\where the link leads";
        ASSERT_TRUE(CreateDirectoryW(target_.c_str(), nullptr));
        WriteText(target_ + L"\\Setup.exe", "not the product's");
        WriteText(target_ + L"\\appliance.exe", "another file of that folder");
        Link(target_, setupFiles_);
    }
    void TearDown() override
    {
        RealRun::TearDown();
        if (movedAside_) MoveFileW(aside_.c_str(), setupFiles_.c_str());
        endtoend::UninstallWhatRunsLeft();
        endtoend::CleanRelease();
    }

    std::wstring setupFiles_, aside_, target_;
    bool movedAside_ = false;
};

TEST_F(PlantedSetupFilesLink, ElevatedInstallChangesNothingWhereTheLinkLeadsAndSucceeds)
{
    EXPECT_EQ(0u, endtoend::RunSetup(L"/install /silent /nocheck", 240000));
    std::vector<std::wstring> entries = EntriesOf(target_);
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ((std::vector<std::wstring>{L"Setup.exe", L"appliance.exe"}), entries)
        << "nothing created, renamed or deleted where the link leads";
    EXPECT_EQ("not the product's", ReadText(target_ + L"\\Setup.exe"));
    EXPECT_EQ("another file of that folder", ReadText(target_ + L"\\appliance.exe"));
    const std::vector<std::string> lines = endtoend::LastRunLines();
    const std::string refusal = "Refusing the setup files folder " + Narrow(setupFiles_) + ": " + Narrow(setupFiles_) +
                                " is a link; nothing is cached there";
    int refusals = 0;
    for (const std::string& line : lines) refusals += line.find(refusal) != std::string::npos;
    EXPECT_EQ(1, refusals);
    EXPECT_FALSE(endtoend::StoreValueNames(L"uninstall").empty()) << "the components were installed";
}

}  // namespace
