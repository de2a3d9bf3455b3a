#include "engine/mirrors/AddressAttempts.h"

#include "osh/Download.h"
#include "osh/HttpTransfer.h"
#include "osh/Log.h"

#include <windows.h>

namespace ziz {

namespace {

bool RunCancelled()
{
    HANDLE event = osh::TransferCancelEvent();
    return event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

}  // namespace

AttemptOutcome TryAddresses(const std::vector<std::wstring>& addresses, const AddressAttempt& attempt)
{
    if (addresses.empty()) {
        osh::LogError("No download address given");
        return AttemptOutcome::Refused;
    }
    AttemptOutcome outcome = AttemptOutcome::Refused;
    for (std::size_t index = 0; index < addresses.size(); ++index) {
        std::string reason;
        outcome = attempt(addresses[index], reason);
        if (outcome != AttemptOutcome::Accepted && RunCancelled()) outcome = AttemptOutcome::Cancelled;
        const bool addressLeft = index + 1 < addresses.size();
        const NextStep step = AfterAttempt(outcome, addressLeft);
        if (step == NextStep::Accept) return outcome;
        const std::string line = FailoverLine(addresses[index], index + 1, addresses.size(), reason);
        if (step == NextStep::TryNextAddress) {
            osh::LogWarning(line);
            continue;
        }
        if (!line.empty()) osh::LogError(line);
        return outcome;
    }
    return outcome;
}

bool DownloadFromAddresses(const std::wstring& localPath, const std::vector<std::wstring>& addresses,
                           std::string& failure)
{
    failure.clear();
    const AttemptOutcome outcome = TryAddresses(addresses, [&](const std::wstring& address, std::string& reason) {
        if (osh::DownloadToFile(localPath, address, failure)) return AttemptOutcome::Accepted;
        reason = failure;
        return AttemptOutcome::TransferFailed;
    });
    if (addresses.empty()) failure = "No download address given";
    return outcome == AttemptOutcome::Accepted;
}

}  // namespace ziz
