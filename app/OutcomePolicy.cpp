#include "app/OutcomePolicy.h"

#include "engine/EngineStatus.h"
#include "engine/InstallMode.h"

namespace app {

namespace {

bool IsFailure(int outcome) { return outcome == ziz::OutcomeFailed || outcome > ziz::OutcomeRestartAgreed; }

int ExitCodeOf(int outcome)
{
    if (IsFailure(outcome)) return -1;
    return outcome == ziz::OutcomeSucceeded ? 0 : 1;
}

// The restart handling of a successful run that may ask or restart.
RestartPrompt PromptFor(const OutcomeFacts& facts)
{
    if (!facts.elevated) return RestartPrompt::None;
    const bool agreed = facts.outcome == ziz::OutcomeRestartAgreed;
    switch (facts.mode) {
    case ziz::INSTALL:
        if (agreed) return RestartPrompt::Unasked;
        // A component asked for a restart: never without asking, and a silent run does not restart.
        if (facts.outcome == ziz::OutcomeRestart && facts.interactive) return RestartPrompt::AskUpdate;
        return RestartPrompt::None;
    case ziz::UPDATE:
        if (agreed) return RestartPrompt::Unasked;
        return facts.outcome == ziz::OutcomeRestart ? RestartPrompt::AskUpdate : RestartPrompt::None;
    case ziz::UNINSTALL:
        // Removed files may be in use until a restart, so an uninstall always offers one.
        return agreed ? RestartPrompt::Unasked : RestartPrompt::AskUninstall;
    default:
        return RestartPrompt::None;
    }
}

}  // namespace

OutcomeDecision DecideOutcome(const OutcomeFacts& facts)
{
    OutcomeDecision decision;
    decision.exitCode = ExitCodeOf(facts.outcome);
    const bool boxes = facts.interactive && !facts.unattended;
    if (IsFailure(facts.outcome)) {
        decision.box = boxes ? FinalBox::Always : FinalBox::Never;
        return decision;
    }
    // Deployment tools run unattended: no question, no restart, the exit code tells.
    if (facts.unattended) return decision;
    decision.prompt = PromptFor(facts);
    if (decision.prompt == RestartPrompt::AskUninstall && boxes) decision.box = FinalBox::WhenRestartDeclined;
    return decision;
}

}  // namespace app
