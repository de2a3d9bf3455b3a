// How a run's outcome becomes a restart prompt, a box and an exit code, the JSON of the
// result file a deployment tool reads, and the facts a started process hands back. Pure
// decisions: they run natively as well.
#include "app/HandBackText.h"
#include "app/OutcomePolicy.h"
#include "app/ResultJson.h"
#include "engine/InstallMode.h"
#include "engine/RunReport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The window's policy as a table: mode, outcome, interactive, unattended, elevated.
TEST(OutcomePolicy, DecidesPromptBoxAndExitCode)
{
    using app::FinalBox;
    using app::RestartPrompt;
    struct Row {
        int mode, outcome;
        bool interactive, unattended, elevated;
        RestartPrompt prompt;
        FinalBox box;
        int exitCode;
    };
    const Row rows[] = {
        // failures: a box only with someone at the screen
        {ziz::INSTALL, 0, true, false, true, RestartPrompt::None, FinalBox::Always, -1},
        {ziz::INSTALL, 0, false, false, true, RestartPrompt::None, FinalBox::Never, -1},
        {ziz::UNINSTALL, 0, true, true, true, RestartPrompt::None, FinalBox::Never, -1},
        {ziz::CHECK, 7, true, false, true, RestartPrompt::None, FinalBox::Always, -1},
        // install: agreed restarts unasked, a needed one is asked only interactively
        {ziz::INSTALL, 1, true, false, true, RestartPrompt::None, FinalBox::Never, 0},
        {ziz::INSTALL, 2, true, false, true, RestartPrompt::AskUpdate, FinalBox::Never, 1},
        {ziz::INSTALL, 2, false, false, true, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::INSTALL, 2, true, false, false, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::INSTALL, 3, false, false, true, RestartPrompt::Unasked, FinalBox::Never, 1},
        {ziz::INSTALL, 3, true, false, false, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::INSTALL, 3, true, true, true, RestartPrompt::None, FinalBox::Never, 1},
        // update: a silent run still asks (the installed product relies on it)
        {ziz::UPDATE, 1, true, false, true, RestartPrompt::None, FinalBox::Never, 0},
        {ziz::UPDATE, 2, false, false, true, RestartPrompt::AskUpdate, FinalBox::Never, 1},
        {ziz::UPDATE, 3, true, false, true, RestartPrompt::Unasked, FinalBox::Never, 1},
        {ziz::UPDATE, 2, false, true, true, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::UPDATE, 2, true, false, false, RestartPrompt::None, FinalBox::Never, 1},
        // uninstall: always offered when elevated; the completion box only after No, interactively
        {ziz::UNINSTALL, 1, true, false, true, RestartPrompt::AskUninstall, FinalBox::WhenRestartDeclined, 0},
        {ziz::UNINSTALL, 2, false, false, true, RestartPrompt::AskUninstall, FinalBox::Never, 1},
        {ziz::UNINSTALL, 3, true, false, true, RestartPrompt::Unasked, FinalBox::Never, 1},
        {ziz::UNINSTALL, 2, true, true, true, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::UNINSTALL, 2, true, false, false, RestartPrompt::None, FinalBox::Never, 1},
        // the rest never restart; 2 means up to date
        {ziz::DOWNLOAD, 2, true, false, true, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::CHECK, 1, true, false, true, RestartPrompt::None, FinalBox::Never, 0},
        {ziz::APPLIANCE, 3, true, false, true, RestartPrompt::None, FinalBox::Never, 1},
        {ziz::INVALID, 2, true, false, true, RestartPrompt::None, FinalBox::Never, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.mode) + "/" + std::to_string(row.outcome) + " interactive " +
                     std::to_string(row.interactive) + " unattended " + std::to_string(row.unattended) +
                     " elevated " + std::to_string(row.elevated));
        app::OutcomeFacts facts;
        facts.mode = row.mode;
        facts.outcome = row.outcome;
        facts.interactive = row.interactive;
        facts.unattended = row.unattended;
        facts.elevated = row.elevated;
        const app::OutcomeDecision decision = app::DecideOutcome(facts);
        EXPECT_EQ(static_cast<int>(row.prompt), static_cast<int>(decision.prompt));
        EXPECT_EQ(static_cast<int>(row.box), static_cast<int>(decision.box));
        EXPECT_EQ(row.exitCode, decision.exitCode);
    }
}

TEST(ResultFile, JsonOfASuccessfulAndOfAFailedRun)
{
    app::RunFacts facts;
    facts.mode = "INSTALL";
    facts.outcome = "succeeded";
    facts.exitCode = 1;
    facts.restartRequired = true;
    ziz::RunReport report;
    report.Record(L"base.msi", ziz::ComponentAction::Reused);
    report.Record(L"base.msi", ziz::ComponentAction::Installed);
    report.RecordExitCode(L"base.msi", 3010);
    report.Record(L"b\u00e4ckup \"x\".msi", ziz::ComponentAction::Downloaded);
    facts.components = report.Components();
    EXPECT_EQ("{\"mode\":\"INSTALL\",\"outcome\":\"succeeded\",\"exitCode\":1,\"restartRequired\":true,"
              "\"components\":[{\"file\":\"base.msi\",\"action\":\"installed\",\"exitCode\":3010},"
              "{\"file\":\"b\xC3\xA4" "ckup \\\"x\\\".msi\",\"action\":\"downloaded\"}]}",
              app::ResultJson(facts));

    app::RunFacts failed;
    failed.mode = "DOWNLOAD";
    failed.outcome = "failed";
    failed.failureReason = "Download failed file integrity check";
    ziz::RunReport checks;
    checks.Record(L"a.msi", ziz::ComponentAction::Downloaded);
    checks.Record(L"b.msi", ziz::ComponentAction::Downloaded);
    checks.RecordFailedCheck(L"b.msi", "md5");
    checks.RecordFailedCheck(L"b.msi", "version");
    failed.components = checks.Components();
    EXPECT_EQ("{\"mode\":\"DOWNLOAD\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
              "\"failureReason\":\"Download failed file integrity check\",\"components\":["
              "{\"file\":\"a.msi\",\"action\":\"downloaded\"},"
              "{\"file\":\"b.msi\",\"action\":\"failed\",\"failedCheck\":\"md5\"}]}",
              app::ResultJson(failed));

    // Control characters are escaped (the short forms where JSON has them); a slash and
    // UTF-8 stay as they are.
    failed.failureReason = "a\nb\tc\rd\be\ff\\g/h\x01i\x0B\x1Fj\x7F\xC3\xA4";
    failed.components.clear();
    EXPECT_EQ("{\"mode\":\"DOWNLOAD\",\"outcome\":\"failed\",\"exitCode\":-1,\"restartRequired\":false,"
              "\"failureReason\":\"a\\nb\\tc\\rd\\be\\ff\\\\g/h\\u0001i\\u000B\\u001Fj\x7F\xC3\xA4\","
              "\"components\":[]}",
              app::ResultJson(failed));
}

TEST(ResultFile, JsonNamesTheKeptInstallerLogsTheLogFilesAndLostLines)
{
    app::RunFacts facts;
    facts.mode = "INSTALL";
    facts.outcome = "cancelled";
    facts.failureReason = "Cancelled: the window was closed before the run reported an outcome";
    ziz::RunReport report;
    report.Record(L"base.msi", ziz::ComponentAction::Failed);
    report.RecordExitCode(L"base.msi", 1603);
    report.RecordLog(L"base.msi", L"C:\\ProgramData\\N\u00f6rlo\\log\\installers\\base.msi.20261210-010203.log");
    facts.components = report.Components();
    facts.logFiles = {"C:\\ProgramData\\Norlo 5\\log\\setup.log", "C:\\Temp\\Norlo-setup.12.log"};
    facts.logLinesLost = 3;
    EXPECT_EQ("{\"mode\":\"INSTALL\",\"outcome\":\"cancelled\",\"exitCode\":-1,\"restartRequired\":false,"
              "\"failureReason\":\"Cancelled: the window was closed before the run reported an outcome\","
              "\"components\":[{\"file\":\"base.msi\",\"action\":\"failed\",\"exitCode\":1603,"
              "\"log\":\"C:\\\\ProgramData\\\\N\xC3\xB6rlo\\\\log\\\\installers\\\\base.msi.20261210-010203.log\"}],"
              "\"logFiles\":[\"C:\\\\ProgramData\\\\Norlo 5\\\\log\\\\setup.log\",\"C:\\\\Temp\\\\Norlo-setup.12.log\"],"
              "\"logLinesLost\":3}",
              app::ResultJson(facts));
}

// The policies a run ran under close the result: the REG_DWORD ones as numbers, the texts
// (a version prefix of digits only, too) as strings.
TEST(ResultFile, PoliciesInEffectCloseTheResult)
{
    app::RunFacts facts;
    facts.mode = "CHECK";
    facts.outcome = "up to date";
    facts.exitCode = 1;
    facts.policies = {{"UpdateURL", "https://mirror/\"u\".xml"}, {"SelfUpdate", "0"}, {"TargetVersionPrefix", "5"},
                      {"CacheLimitMB", "1024"}};
    EXPECT_EQ("{\"mode\":\"CHECK\",\"outcome\":\"up to date\",\"exitCode\":1,\"restartRequired\":false,"
              "\"components\":[],\"policies\":{\"UpdateURL\":\"https://mirror/\\\"u\\\".xml\",\"SelfUpdate\":0,"
              "\"TargetVersionPrefix\":\"5\",\"CacheLimitMB\":1024}}",
              app::ResultJson(facts));
}

// What a started process hands back reads back as it was, whatever its texts hold.
TEST(HandBack, FactsReadBackAsTheyWereWritten)
{
    app::RunFacts facts;
    facts.mode = "UPDATE";
    facts.outcome = "failed";
    facts.exitCode = -1;
    facts.restartRequired = true;
    facts.failureReason = "Installing \xCE\xB5.msi failed:\tline\nnext\\r=1";
    ziz::RunReport report;
    report.Record(L"\u0444\u0430\u0439\u043b.msi", ziz::ComponentAction::Installed);
    report.RecordExitCode(L"\u0444\u0430\u0439\u043b.msi", 3010);
    report.RecordLog(L"\u0444\u0430\u0439\u043b.msi", L"C:\\log\\installers\\x=\t.log");
    report.Record(L"vcredist_x64.exe", ziz::ComponentAction::Reused);
    report.RecordFailedCheck(L"vcredist_x64.exe", "md5");
    facts.components = report.Components();
    facts.logFiles = {"C:\\log\\setup.log", "C:\\log\\setup.7.log"};
    facts.logLinesLost = 2;
    facts.updateDocument = "Update document refused: signed by \"CN=x=1\" (not this publisher); carried on";

    app::RunFacts read;
    ASSERT_TRUE(app::ReadHandBackText(app::HandBackText(facts), read));
    EXPECT_EQ(app::ResultJson(facts), app::ResultJson(read));
    EXPECT_NE(std::string::npos, app::ResultJson(read).find(
        "\"updateDocument\":\"Update document refused: signed by \\\"CN=x=1\\\" (not this publisher); carried on\","
        "\"components\":["));
    EXPECT_EQ(facts.logLinesLost, read.logLinesLost);

    // Anything else is no hand-back and changes nothing.
    app::RunFacts untouched;
    untouched.mode = "CHECK";
    for (const std::string& text :
         {std::string(), std::string("mode=INSTALL\noutcome=failed\n"), std::string("norlo-handback 1\nmode=INSTALL\n"),
          app::HandBackText(facts) + "unknown=1\n", app::HandBackText(facts) + "component=installed\t0\n",
          app::HandBackText(facts) + "component=bogus\t-\t\t\tx.msi\n"}) {
        EXPECT_FALSE(app::ReadHandBackText(text, untouched)) << text;
        EXPECT_EQ("CHECK", untouched.mode);
    }
}

TEST(HandBack, TheWaitingProcessTakesTheFactsInAndKeepsItsExitCodeAndLogFilesFirst)
{
    app::RunFacts own;
    own.mode = "INSTALL";
    own.outcome = "handed over";
    own.exitCode = -1;
    own.logFiles = {"C:\\Log\\setup.log"};
    own.logLinesLost = 1;
    app::RunFacts handedBack;
    handedBack.mode = "INSTALL";
    handedBack.outcome = "failed";
    handedBack.exitCode = 0;
    handedBack.failureReason = "Installing vcredist_x64.exe failed";
    ziz::RunReport report;
    report.Record(L"vcredist_x64.exe", ziz::ComponentAction::Failed);
    handedBack.components = report.Components();
    handedBack.logFiles = {"c:\\log\\SETUP.log", "C:\\Windows\\Temp\\Norlo-setup.9.log"};
    handedBack.logLinesLost = 2;
    handedBack.updateDocument = "Update document accepted: serial 42, expires on 2027-03-01";
    own.updateDocument = "Update document refused: serial 41 is older than 42 already seen";
    app::TakeInHandedBack(handedBack, own);
    EXPECT_EQ("Update document accepted: serial 42, expires on 2027-03-01", own.updateDocument);
    EXPECT_EQ("failed", own.outcome);
    EXPECT_EQ(-1, own.exitCode);
    EXPECT_EQ("Installing vcredist_x64.exe failed", own.failureReason);
    ASSERT_EQ(1u, own.components.size());
    EXPECT_EQ((std::vector<std::string>{"C:\\Log\\setup.log", "C:\\Windows\\Temp\\Norlo-setup.9.log"}), own.logFiles);
    EXPECT_EQ(3u, own.logLinesLost);
}

}  // namespace
