// Which address of a file is asked next and what ends the attempts. Free of Windows.
#include "engine/mirrors/FailoverRule.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

using ziz::AttemptOutcome;
using ziz::NextStep;

TEST(FailoverRule, OnlyACheckedFileIsAcceptedAndLocalFailuresEndTheAttempts)
{
    struct Case {
        AttemptOutcome outcome;
        NextStep withAddressLeft;
        NextStep atTheLastAddress;
    } const cases[] = {
        {AttemptOutcome::Accepted, NextStep::Accept, NextStep::Accept},
        {AttemptOutcome::Refused, NextStep::TryNextAddress, NextStep::GiveUp},
        {AttemptOutcome::TransferFailed, NextStep::TryNextAddress, NextStep::GiveUp},
        // A file that failed its check is never taken, whichever address sent it.
        {AttemptOutcome::CheckFailed, NextStep::TryNextAddress, NextStep::GiveUp},
        // Another server cannot make room on this machine, nor should a closing run go on.
        {AttemptOutcome::LocalFailure, NextStep::GiveUp, NextStep::GiveUp},
        {AttemptOutcome::Cancelled, NextStep::GiveUp, NextStep::GiveUp},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.outcome));
        EXPECT_EQ(c.withAddressLeft, ziz::AfterAttempt(c.outcome, true));
        EXPECT_EQ(c.atTheLastAddress, ziz::AfterAttempt(c.outcome, false));
    }
}

TEST(FailoverRule, LineNamesTheAddressItsPlaceAndWhy)
{
    EXPECT_EQ("Address 1 of 2 \"http://mirror/a.msi\" failed (HTTP 500); trying address 2",
              ziz::FailoverLine(L"http://mirror/a.msi", 1, 2, "HTTP 500"));
    EXPECT_EQ("Address 3 of 3 \"https://s/a.msi\" failed (Download failed file integrity check); no address left",
              ziz::FailoverLine(L"https://s/a.msi", 3, 3, "Download failed file integrity check"));
    EXPECT_EQ("", ziz::FailoverLine(L"http://only/a.msi", 1, 1, "HTTP 404")) << "a single address says it all";
}

TEST(FailoverRule, AddressListsSplitAtSemicolonsInOrder)
{
    using List = std::vector<std::wstring>;
    struct Case {
        const wchar_t* text;
        List addresses;
    } const cases[] = {
        {L"https://a/update.xml", {L"https://a/update.xml"}},
        {L"https://a/u.xml;https://b/u.xml", {L"https://a/u.xml", L"https://b/u.xml"}},
        {L" https://a/u.xml ; \thttps://b/u.xml\t;", {L"https://a/u.xml", L"https://b/u.xml"}},
        {L";;https://b/u.xml;;https://a/u.xml;https://b/u.xml", {L"https://b/u.xml", L"https://a/u.xml"}},
        {L"", {}},
        {L" ; ", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text, c.text + std::wcslen(c.text)));
        EXPECT_EQ(c.addresses, ziz::SplitAddressList(c.text));
    }
}

}  // namespace
