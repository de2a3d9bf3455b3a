// How a run's outcome becomes a restart prompt, a box and an exit code, and the JSON of
// the result file a deployment tool reads. Pure decisions: they run natively as well.
#include "app/OutcomePolicy.h"
#include "app/ResultJson.h"
#include "engine/InstallMode.h"
#include "engine/RunReport.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
