#include "app/RunEnd.h"

#include "engine/policy/PolicyKey.h"
#include "osh/Text.h"

namespace app {

namespace {

std::string OutcomeName(const RunFacts& facts, bool upToDate, RunEnding ending, ziz::HoldBack holdBack)
{
    if (ending == RunEnding::Refused) return "refused";
    if (ending == RunEnding::Cancelled) return "cancelled";
    if (facts.handedOver) return "handed over";
    // A run held back changed nothing: the caller may simply try again later.
    if (facts.exitCode == -1 && holdBack != ziz::HoldBack::None) return ziz::HoldBackName(holdBack);
    if (facts.exitCode == -1) return "failed";
    return upToDate ? "up to date" : "succeeded";
}

}  // namespace

std::string FirstLogLine(const std::wstring& version, ziz::InstallMode mode, const std::wstring& commandLine)
{
    return "Setup " + osh::Narrow(version.empty() ? L"(unknown version)" : version) + " started, mode " +
           osh::Narrow(ziz::InstallModeName(mode)) + ", command line: " + osh::Narrow(commandLine);
}

std::string LastLogLine(const RunFacts& facts)
{
    return "Setup ended, mode " + facts.mode + ", outcome " + facts.outcome + ", exit code " +
           std::to_string(facts.exitCode) + ", restart needed " + (facts.restartRequired ? "yes" : "no");
}

RunFacts GatherRunFacts(const HandledOutcome& outcome, const EngineSummary& summary, const std::string& firstError,
                        int exitCode, ziz::InstallMode commandLineMode, RunEnding ending)
{
    RunFacts facts;
    const ziz::InstallMode mode = summary.ran ? summary.mode : commandLineMode;
    facts.mode = osh::Narrow(ziz::InstallModeName(mode));
    facts.exitCode = exitCode;
    facts.handedOver = outcome.handedOver || summary.report.HandedOver();
    const bool upToDate = summary.ran && summary.lastStatus == ziz::StatusUpToDate && exitCode == 1;
    // Exit code 1 is a restart request unless the software was up to date; a hand-over
    // passes on the code of the run that did the work.
    facts.restartRequired =
        exitCode == 1 && !upToDate && (mode == ziz::INSTALL || mode == ziz::UPDATE || mode == ziz::UNINSTALL);
    facts.outcome = OutcomeName(facts, upToDate, ending, summary.report.HeldBack());
    if (ending == RunEnding::Cancelled)
        facts.failureReason = "Cancelled: the window was closed before the run reported an outcome";
    else if (exitCode == -1)
        facts.failureReason = FailureReasonOf(summary, firstError);
    facts.components = summary.report.Components();
    for (const auto& policy : ziz::RunPolicies().InEffect())
        facts.policies.emplace_back(osh::ToUtf8(policy.first), osh::ToUtf8(policy.second));
    facts.updateDocument = summary.report.UpdateDocument();
    return facts;
}

}  // namespace app
