#pragma once
// When a component, the bootstrapper or the update document has several addresses (an
// internal mirror first, the publisher's server after it), which one is asked next and what
// counts as a failure. Free of Windows headers, so the rules are tested as a table.
#include <cstddef>
#include <string>
#include <vector>

namespace ziz {

// What one attempt at one address came to.
enum class AttemptOutcome {
    Accepted,        // the file arrived and passed every check
    Refused,         // the address is no acceptable web address; nothing was asked
    TransferFailed,  // no connection, an error status, a transfer that stopped, ...
    CheckFailed,     // the file arrived but is not the one the document promises
    LocalFailure,    // this machine could not take the file: another address cannot help
    Cancelled,       // the run is ending
};

enum class NextStep { Accept, TryNextAddress, GiveUp };

// Only a checked file is accepted; a failure the next address may not share sends the run
// there while one is left; a local failure or a cancelled run ends the attempts at once.
NextStep AfterAttempt(AttemptOutcome outcome, bool addressLeft);

// The line that names a failed address and why (1-based number of count). Empty when the
// item has a single address: the failure's own lines say everything then.
std::string FailoverLine(const std::wstring& address, std::size_t number, std::size_t count,
                         const std::string& reason);

// The addresses of a ";"-separated list (an update address with mirrors), in order, each
// stripped of blanks at both ends; empty entries and repeats are dropped.
std::vector<std::wstring> SplitAddressList(const std::wstring& text);

}  // namespace ziz
