#include "engine/mirrors/FailoverRule.h"

#include "osh/Text.h"

#include <algorithm>
#include <cwctype>

namespace ziz {

NextStep AfterAttempt(AttemptOutcome outcome, bool addressLeft)
{
    switch (outcome) {
    case AttemptOutcome::Accepted: return NextStep::Accept;
    case AttemptOutcome::Refused:
    case AttemptOutcome::TransferFailed:
    case AttemptOutcome::CheckFailed: return addressLeft ? NextStep::TryNextAddress : NextStep::GiveUp;
    case AttemptOutcome::LocalFailure:
    case AttemptOutcome::Cancelled: break;
    }
    return NextStep::GiveUp;
}

std::string FailoverLine(const std::wstring& address, std::size_t number, std::size_t count,
                         const std::string& reason)
{
    if (count < 2) return {};
    const std::string line = "Address " + std::to_string(number) + " of " + std::to_string(count) + " \"" +
                             osh::Narrow(address) + "\" failed (" + reason + "); ";
    return line + (number < count ? "trying address " + std::to_string(number + 1) : std::string("no address left"));
}

std::vector<std::wstring> SplitAddressList(const std::wstring& text)
{
    std::vector<std::wstring> addresses;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L';', start);
        if (end == std::wstring::npos) end = text.size();
        std::size_t first = start;
        std::size_t last = end;
        while (first < last && std::iswspace(text[first])) ++first;
        while (last > first && std::iswspace(text[last - 1])) --last;
        const std::wstring address = text.substr(first, last - first);
        if (!address.empty() && std::find(addresses.begin(), addresses.end(), address) == addresses.end())
            addresses.push_back(address);
        start = end + 1;
    }
    return addresses;
}

}  // namespace ziz
