#pragma once
// Trying the addresses of one file in order until one serves it (the effects of the
// rules in FailoverRule.h).
#include "engine/mirrors/FailoverRule.h"

#include <functional>
#include <string>
#include <vector>

namespace ziz {

// One attempt at one address; says what it came to and, when it failed, why in words.
using AddressAttempt = std::function<AttemptOutcome(const std::wstring& address, std::string& reason)>;

// Asks each address in turn (an empty list counts as one refused attempt). Each failed
// address gets a warning line naming it and why while another is left, an error line when
// it was the last of several. A failure while the run is being cancelled counts as
// Cancelled. Returns the outcome of the last attempt.
AttemptOutcome TryAddresses(const std::vector<std::wstring>& addresses, const AddressAttempt& attempt);

// The update document (or another plain file) from the first of addresses that serves it
// into localPath. failure gets the last address's failure line (the address and why).
bool DownloadFromAddresses(const std::wstring& localPath, const std::vector<std::wstring>& addresses,
                           std::string& failure);

}  // namespace ziz
