#pragma once
// What the window does with the engine's outcome: which restart prompt (if any), whether a
// box shows, and the process exit code. A pure table, so the window only carries it out.
namespace app {

enum class RestartPrompt {
    None,
    Unasked,         // restart at once: the user already agreed
    AskUpdate,       // "You must restart ... software update" + "Would you like to restart now?"
    AskUninstall     // "You must restart ... uninstall process" + the same question
};

enum class FinalBox {
    Never,
    Always,              // the outcome text (a failure)
    WhenRestartDeclined  // the outcome text, only after No to the restart question
};

struct OutcomeFacts {
    int mode = 0;         // ziz::InstallMode
    int outcome = 0;      // ziz::EngineOutcomeCode; anything above 3 is a failure
    bool interactive = true;  // no "/silent"
    bool unattended = false;  // "/norestart": nobody at the screen
    bool elevated = true;
};

struct OutcomeDecision {
    RestartPrompt prompt = RestartPrompt::None;
    FinalBox box = FinalBox::Never;
    int exitCode = -1;  // -1 failure, 0 success, 1 restart needed or up to date
};

OutcomeDecision DecideOutcome(const OutcomeFacts& facts);

}  // namespace app
