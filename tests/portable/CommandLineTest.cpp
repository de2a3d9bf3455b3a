// How the command line becomes the engine's mode, restart flag, install type and appliance
// target, how options are read, and the version rule that decides a self-update.
#include "engine/CommandLine.h"
#include "support/TestWorker.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::TestWorker;

const wchar_t* const kProgram = L"C:\\Media\\Setup.exe";

struct Parsed {
    ziz::InstallMode mode;
    bool restartRequired;
    ziz::InstallType installType;
    std::wstring applianceTarget;
};

Parsed Parse(std::vector<std::wstring> switches)
{
    switches.insert(switches.begin(), kProgram);
    TestWorker worker;
    worker.ParseCommandLine(switches);
    return {worker.GetMode(), worker.IsRestartRequired(), worker.GetInstallType(), worker.GetApplianceTarget()};
}

std::string WhatOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

TEST(CommandLine, EngineStartsInvalidUntilParsed)
{
    TestWorker worker;
    std::wstring name;
    EXPECT_EQ(ziz::INVALID, worker.GetModeName(name));
    EXPECT_EQ(L"INVALID", name);
    EXPECT_EQ(ziz::StatusFailed, worker.GetLastStatus());
    EXPECT_FALSE(worker.IsRestartRequired());
}

TEST(CommandLine, NoSwitchesMeansServicesInstall)
{
    const Parsed parsed = Parse({});
    EXPECT_EQ(ziz::INSTALL, parsed.mode);
    EXPECT_FALSE(parsed.restartRequired);
    EXPECT_EQ(ziz::InstallTypeServices, parsed.installType);
    EXPECT_EQ(L"", parsed.applianceTarget);
}

TEST(CommandLine, UpdateSwitchWithEitherPrefixRequestsRestart)
{
    for (const wchar_t* word : {L"/update", L"--update", L"/UPDATE"}) {
        const Parsed parsed = Parse({word});
        EXPECT_EQ(ziz::UPDATE, parsed.mode) << testing::PrintToString(std::wstring(word));
        EXPECT_TRUE(parsed.restartRequired);
    }
}

TEST(CommandLine, WordsWithoutPrefixAreIgnored)
{
    EXPECT_EQ(ziz::INSTALL, Parse({L"update"}).mode);
    EXPECT_FALSE(Parse({L"update"}).restartRequired);
    EXPECT_EQ(ziz::INSTALL, Parse({L"-uninstall", L"uninstall"}).mode);
    EXPECT_EQ(ziz::InstallTypeServices, Parse({L"viewer"}).installType);
}

TEST(CommandLine, RestartFlagFollowsTheWinningSwitch)
{
    EXPECT_TRUE(Parse({L"/uninstall"}).restartRequired);
    EXPECT_FALSE(Parse({L"/download"}).restartRequired);
    EXPECT_FALSE(Parse({L"/check"}).restartRequired);
    EXPECT_FALSE(Parse({L"/appliance"}).restartRequired);
    EXPECT_FALSE(Parse({L"/install"}).restartRequired);
    // install beats update, so the restart request of update is dropped too.
    EXPECT_FALSE(Parse({L"/update", L"/install"}).restartRequired);
}

TEST(CommandLine, HigherSwitchWinsWhateverTheOrder)
{
    EXPECT_EQ(ziz::DOWNLOAD, Parse({L"/check", L"/download"}).mode);
    EXPECT_EQ(ziz::DOWNLOAD, Parse({L"/download", L"/check"}).mode);
    EXPECT_EQ(ziz::UNINSTALL, Parse({L"/install", L"/uninstall"}).mode);
    EXPECT_EQ(ziz::UNINSTALL, Parse({L"--uninstall", L"/install"}).mode);
    EXPECT_EQ(ziz::APPLIANCE, Parse({L"/install", L"/appliance=E:\\", L"/check"}).mode);
    EXPECT_EQ(ziz::INSTALL, Parse({L"/update", L"/install"}).mode);
}

TEST(CommandLine, ApplianceTargetIsTheValueAsWritten)
{
    const Parsed withValue = Parse({L"/APPLIANCE=F:\\Media Stick\\"});
    EXPECT_EQ(ziz::APPLIANCE, withValue.mode);
    EXPECT_EQ(L"F:\\Media Stick\\", withValue.applianceTarget);
    const Parsed withoutValue = Parse({L"--Appliance"});
    EXPECT_EQ(ziz::APPLIANCE, withoutValue.mode);
    EXPECT_EQ(L"", withoutValue.applianceTarget);
    // Only the appliance switch sets a target; a value on a losing switch does not.
    EXPECT_EQ(L"", Parse({L"/appliance", L"/install=E:\\"}).applianceTarget);
    EXPECT_EQ(L"", Parse({L"/uninstall", L"/appliance=E:\\"}).applianceTarget);
}

TEST(CommandLine, ValuesOfOtherSwitchesHaveNoEffect)
{
    const Parsed install = Parse({L"/install=whatever"});
    EXPECT_EQ(ziz::INSTALL, install.mode);
    EXPECT_EQ(L"", install.applianceTarget);
    EXPECT_EQ(ziz::InstallTypeServices, install.installType);
}

TEST(CommandLine, ViewerWithAnyValueSelectsViewer)
{
    EXPECT_EQ(ziz::InstallTypeViewer, Parse({L"/viewer"}).installType);
    EXPECT_EQ(ziz::InstallTypeViewer, Parse({L"--VIEWER=no"}).installType);
    EXPECT_EQ(ziz::InstallTypeViewer, Parse({L"/update", L"/viewer=0"}).installType);
    EXPECT_EQ(ziz::UPDATE, Parse({L"/update", L"/viewer=0"}).mode);
}

TEST(CommandLine, ParsingAgainStartsAfresh)
{
    TestWorker worker;
    worker.ParseCommandLine({kProgram, L"/viewer", L"/uninstall"});
    worker.ParseCommandLine({kProgram, L"/check"});
    EXPECT_EQ(ziz::CHECK, worker.GetMode());
    EXPECT_EQ(ziz::InstallTypeServices, worker.GetInstallType());
    EXPECT_FALSE(worker.IsRestartRequired());
    std::vector<std::wstring> arguments;
    worker.GetArguments(arguments);
    EXPECT_EQ((std::vector<std::wstring>{kProgram, L"/check"}), arguments);
}

TEST(Options, ValueIsEverythingAfterTheFirstEquals)
{
    TestWorker worker;
    worker.ParseCommandLine({kProgram, L"--clid=a=b==c", L"--opt=", L"/nocheck", L"purge"});
    std::wstring value = L"untouched";
    ASSERT_TRUE(worker.GetOption(L"clid", value));
    EXPECT_EQ(L"a=b==c", value);
    value = L"untouched";
    ASSERT_TRUE(worker.GetOption(L"opt", value));
    EXPECT_EQ(L"", value);
    value = L"untouched";
    ASSERT_TRUE(worker.GetOption(L"nocheck", value));
    EXPECT_EQ(L"", value);
    value = L"untouched";
    EXPECT_FALSE(worker.GetOption(L"purge", value));
    EXPECT_EQ(L"untouched", value);
    EXPECT_FALSE(worker.GetOption(L"clean", value));
    EXPECT_EQ(L"untouched", value);
}

TEST(Options, NamesCompareWithoutCaseAndWholly)
{
    TestWorker worker;
    worker.ParseCommandLine({kProgram, L"/NoCheck", L"--MIGRATE=D:\\Old"});
    std::wstring value;
    EXPECT_TRUE(worker.HasOption(L"nocheck"));
    EXPECT_TRUE(worker.HasOption(L"NOCHECK"));
    ASSERT_TRUE(worker.GetOption(L"migrate", value));
    EXPECT_EQ(L"D:\\Old", value);
    EXPECT_FALSE(worker.HasOption(L"no"));
    EXPECT_FALSE(worker.HasOption(L"nocheckx"));
}

TEST(Options, FirstOccurrenceAnswers)
{
    TestWorker worker;
    worker.ParseCommandLine({kProgram, L"/clid=first", L"--clid=second"});
    std::wstring value;
    ASSERT_TRUE(worker.GetOption(L"clid", value));
    EXPECT_EQ(L"first", value);
}

TEST(Options, ProgramPathElementIsSearchedToo)
{
    TestWorker worker;
    worker.ParseCommandLine({L"/purge=x"});
    std::wstring value;
    ASSERT_TRUE(worker.GetOption(L"purge", value));
    EXPECT_EQ(L"x", value);
}

// A typo must end the run before anything happens: every element after the program path
// is either a switch the program reads or refused.
TEST(KnownSwitches, EverySwitchTheProgramReadsIsAccepted)
{
    const wchar_t* const known[] = {
        L"/silent", L"/SILENT", L"/server", L"/norestart", L"/NoRestart", L"/result=C:\\out\\r.json",
        L"/result=r.json", L"/install", L"--install=x", L"/update", L"--UPDATE", L"/download", L"/check",
        L"/uninstall", L"/appliance=E:\\", L"--appliance", L"/viewer", L"/viewer=no", L"--nocheck", L"/clean",
        L"/purge", L"/migrate=C:\\old", L"--clid=a=b", L"", L"/handback={0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}",
        L"/HANDBACK={0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}",
    };
    for (const wchar_t* element : known) {
        std::wstring unknown = L"<untouched>";
        EXPECT_FALSE(ziz::FindUnknownSwitch({kProgram, element}, unknown)) << testing::PrintToString(std::wstring(element));
        EXPECT_EQ(L"<untouched>", unknown);
    }
}

TEST(KnownSwitches, TyposLookalikesAndBareWordsAreRefused)
{
    const wchar_t* const refused[] = {
        L"/unistall",  L"--unistall", L"/install2", L"/ install", L"/",        L"--",          L"-install",
        L"uninstall",  L"update",     L"--silent",  L"/silent=yes", L"/server=1", L"--norestart", L"/norestart=x",
        L"/result",    L"/result=",   L"--result=r.json", L"/silently", L"/clid_x", L"\\install",
        // The id becomes part of a file name: only a GUID in braces.
        L"/handback", L"/handback=", L"--handback={0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}",
        L"/handback=..\\..\\x", L"/handback={0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f}",
        L"/handback={0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1fg}", L"/handback=0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0xx",
    };
    for (const wchar_t* element : refused) {
        std::wstring unknown;
        EXPECT_TRUE(ziz::FindUnknownSwitch({kProgram, L"/silent", element, L"/check"}, unknown))
            << testing::PrintToString(std::wstring(element));
        EXPECT_EQ(element, unknown);
    }
}

TEST(KnownSwitches, FirstUnknownIsNamedAndTheProgramPathIsNotJudged)
{
    std::wstring unknown;
    EXPECT_TRUE(ziz::FindUnknownSwitch({kProgram, L"/clean", L"/unistall", L"/bogus"}, unknown));
    EXPECT_EQ(L"/unistall", unknown);
    // The path has no prefix and may even look like a switch: it is never judged.
    EXPECT_FALSE(ziz::FindUnknownSwitch({L"/odd/Setup.exe"}, unknown));
    EXPECT_FALSE(ziz::FindUnknownSwitch({}, unknown));
}

// A started bootstrapper gets the run's arguments with its own hand-back id instead of the
// caller's result file, so that only the process the caller started writes that file.
TEST(HandBack, StartedProcessesGetAHandBackIdInsteadOfTheResultFile)
{
    const std::wstring id = L"{0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0}";
    const std::wstring earlier = L"{11111111-2222-3333-4444-555555555555}";
    EXPECT_EQ((std::vector<std::wstring>{kProgram, L"/silent", L"/update", L"/handback=" + id}),
              ziz::ArgumentsForHandOver({kProgram, L"/silent", L"/result=C:\\r.json", L"/update",
                                         L"/RESULT=second.json", L"/handback=" + earlier},
                                        id));
    // The program path is never taken out, whatever it looks like.
    EXPECT_EQ((std::vector<std::wstring>{L"/result=x", L"/handback=" + id}), ziz::ArgumentsForHandOver({L"/result=x"}, id));

    EXPECT_EQ(earlier, ziz::GivenHandBackId({kProgram, L"/check", L"/handback=" + earlier}));
    EXPECT_EQ(L"", ziz::GivenHandBackId({kProgram, L"/check", L"/result=r.json"}));
    EXPECT_EQ(L"", ziz::GivenHandBackId({L"/handback=" + earlier}));
    EXPECT_EQ(L"", ziz::GivenHandBackId({kProgram, L"/handback=..\\x"}));
}

TEST(KnownSwitches, ListNamesEveryKnownSwitchOnce)
{
    EXPECT_EQ(L"/silent, /server, /norestart, /result=PATH, /uninstall, /download, /appliance, /check, /install, "
              L"/update, /viewer, /nocheck, /clean, /purge, /migrate, /clid",
              ziz::KnownSwitchList());
}

TEST(ModeName, NamesOfAllModesAndInvalidValues)
{
    const std::pair<int, const wchar_t*> expected[] = {
        {0, L"INSTALL"}, {1, L"UPDATE"},    {2, L"DOWNLOAD"}, {3, L"CHECK"},  {4, L"UNINSTALL"},
        {5, L"APPLIANCE"}, {6, L"INVALID"}, {99, L"INVALID"}, {-1, L"INVALID"},
    };
    for (const auto& entry : expected) {
        TestWorker worker;
        worker.SetMode(static_cast<ziz::InstallMode>(entry.first));
        std::wstring name;
        EXPECT_EQ(entry.first, static_cast<int>(worker.GetModeName(name)));
        EXPECT_EQ(entry.second, name) << "mode " << entry.first;
        ziz::InstallMode out = ziz::INVALID;
        EXPECT_EQ(entry.first, static_cast<int>(worker.GetMode(&out)));
        EXPECT_EQ(entry.first, static_cast<int>(out));
    }
}

struct VersionCase {
    const wchar_t* best;
    const wchar_t* candidate;
    bool newer;
};

TEST(Versions, NewerIsDecidedPartByPartAsNumbers)
{
    const VersionCase cases[] = {
        {L"9.9", L"10.0", true},            // numeric, not text, comparison
        {L"10.0.0", L"10.0", false},        // running out of parts is not newer
        {L"5.0", L"5.0.1", false},
        {L"5.0.1035.10828", L"5.0.1035.10828", false},
        {L"5.0.1035.10828", L"5.0.1035.10829", true},
        {L"5.0.1035.10828", L"5.0.1034.99999", false},
        {L"5.1", L"6", true},
        {L"", L"1.0", true},                // nothing yet: anything is newer
        {L"", L"garbage", true},            // (the running program's own version comes first)
        {L"5.0", L"6.x", false},            // a part that is not a number is never newer
        {L"5.0", L"x.1", false},
        {L"5.0", L"5.0.1x", false},
        {L"5.0", L"6a.0", false},
        {L"5.0", L"-6.0", false},
        {L"5.0", L"5..1", false},
        {L"5.0", L"", false},
        {L"5.0", L"9.bad", false},          // also when an earlier part is greater
        {L"5.0", L"6.0.1-beta", false},
        {L"5.x", L"6.0", true},             // best differs before its bad part
        {L"5.x", L"5.1", false},            // best's bad part is where they would differ
    };
    for (const VersionCase& c : cases) {
        TestWorker worker;
        if (*c.best) {
            ASSERT_TRUE(worker.ConsiderCandidate(L"C:\\best.exe", c.best));
        }
        EXPECT_EQ(c.newer, worker.IsNewerThanBest(c.candidate))
            << testing::PrintToString(std::wstring(c.candidate)) << " against " << testing::PrintToString(std::wstring(c.best));
    }
}

TEST(Versions, EnormousAndOddPartsNeverCrashOrWin)
{
    const std::wstring enormous(100000, L'9');
    const VersionCase cases[] = {
        {L"5.0", L"99999999999999999999.0", false},  // beyond any file version: not a number
        {L"5.0", L"999999999999999999.0", true},     // eighteen digits still are
        {L"999999999999999999.0", L"5.0", false},
        {L"99999999999999999999.0", L"6.0", false},  // a best that is no number wins nothing either
        {L"5.0", L"6.\x0665", false},                // digits of other scripts are not digits
        {L"5.0", L"6.0 ", false},
        {L"5.0", L" 6.0", false},
        {L"5.0", L"6.", false},
        {L"5.0", L".6", false},
    };
    for (const VersionCase& c : cases) {
        TestWorker worker;
        ASSERT_TRUE(worker.ConsiderCandidate(L"C:\\best.exe", c.best));
        EXPECT_EQ(c.newer, worker.IsNewerThanBest(c.candidate))
            << testing::PrintToString(std::wstring(c.candidate)) << " against " << testing::PrintToString(std::wstring(c.best));
    }
    TestWorker worker;
    ASSERT_TRUE(worker.ConsiderCandidate(L"C:\\best.exe", L"5.0"));
    EXPECT_FALSE(worker.IsNewerThanBest(enormous + L"." + enormous));
    std::wstring manyParts;
    for (int i = 0; i < 50000; ++i) manyParts += L"5.0.";
    EXPECT_FALSE(worker.IsNewerThanBest(manyParts + L"0")) << "5.0 equals the first parts; running out is not newer";
    EXPECT_TRUE(worker.IsNewerThanBest(L"5.1." + manyParts + L"0"));
}

TEST(Versions, CandidateReplacesBestOnlyWhenNewer)
{
    TestWorker worker;
    std::wstring path, version;
    worker.GetBestCandidate(path, version);
    EXPECT_EQ(L"", path);
    EXPECT_EQ(L"", version);
    EXPECT_TRUE(worker.ConsiderCandidate(L"C:\\a\\Setup.exe", L"5.0.10"));
    EXPECT_FALSE(worker.ConsiderCandidate(L"C:\\b\\Setup.exe", L"5.0.9"));
    EXPECT_FALSE(worker.ConsiderCandidate(L"C:\\c\\Setup.exe", L"5.0.10"));
    EXPECT_FALSE(worker.ConsiderCandidate(L"C:\\d\\Setup.exe", L"9.bad"));
    worker.GetBestCandidate(path, version);
    EXPECT_EQ(L"C:\\a\\Setup.exe", path);
    EXPECT_EQ(L"5.0.10", version);
    EXPECT_TRUE(worker.ConsiderCandidate(L"C:\\e\\Setup.exe", L"5.1"));
    worker.GetBestCandidate(path, version);
    EXPECT_EQ(L"C:\\e\\Setup.exe", path);
    EXPECT_EQ(L"5.1", version);
}

TEST(Locations, RequireThrowsWithTheKindsText)
{
    TestWorker worker;
    EXPECT_EQ("Unable to determine directory location  of UNKNOWN type",
              WhatOf([&] { worker.RequirePath(static_cast<ziz::PathKind>(9)); }));
    EXPECT_EQ("Unable to determine file name for temporary file",
              WhatOf([&] { worker.RequireFileName(ziz::evTempDir); }));
    EXPECT_EQ("Unable to determine directory location for Setup files",
              WhatOf([&] { worker.RequirePath(ziz::evSetup); }));
    EXPECT_EQ("Unable to determine file name for Setup", WhatOf([&] { worker.RequireFileName(ziz::evSetup); }));
    EXPECT_EQ("Unable to determine directory location of 64-bit program installation",
              WhatOf([&] { worker.RequirePath(ziz::evInstall64); }));
    EXPECT_EQ("Unable to determine file name for log file", WhatOf([&] { worker.RequireFileName(ziz::evLog); }));
    EXPECT_EQ("Unable to determine file name  of UNKNOWN type",
              WhatOf([&] { worker.RequireFileName(static_cast<ziz::PathKind>(-1)); }));
}

TEST(Locations, RequireAnswersWhatTheLookUpFound)
{
    TestWorker worker;
    worker.paths[ziz::evSetup] = L"C:\\ProgramData\\Norlo 5\\SetupFiles";
    worker.fileNames[ziz::evInstall32] = L"Setup.exe";
    EXPECT_EQ(L"C:\\ProgramData\\Norlo 5\\SetupFiles", worker.RequirePath(ziz::evSetup));
    EXPECT_EQ(L"Setup.exe", worker.RequireFileName(ziz::evInstall32));
    EXPECT_STREQ(L"evInvalid", ziz::PathKindName(static_cast<ziz::PathKind>(7)));
    EXPECT_STREQ(L"evTempDir", ziz::PathKindName(ziz::evTempDir));
}

TEST(Items, SetAndGetCopyTheWholeSequence)
{
    TestWorker worker;
    InstallSequence items(2);
    items.front().Filename = L"a.msi";
    items.back().Filename = L"b.exe";
    items.back().Properties[L"installCmd"] = L"{file} /q";
    worker.SetItems(items);
    items.clear();
    InstallSequence copy;
    worker.GetItems(copy);
    ASSERT_EQ(2u, copy.size());
    EXPECT_EQ(L"a.msi", copy.front().Filename);
    EXPECT_EQ(L"{file} /q", copy.back().Properties[L"installCmd"]);
}

}  // namespace
