// What installers' and uninstallers' exit codes mean, and the waits before retrying one
// that found another installation running. Free of Windows: built natively with the
// sanitizers too.
#include "engine/InstallerExitCode.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(InstallerExitCodes, EachCodeHasItsMeaning)
{
    struct Case {
        unsigned long code;
        ziz::InstallerResult result;
        bool success;
    };
    const Case cases[] = {
        {0, ziz::InstallerResult::Succeeded, true},
        {3010, ziz::InstallerResult::SucceededRestartRequired, true},
        {1641, ziz::InstallerResult::SucceededRestartRequired, true},
        {1618, ziz::InstallerResult::Busy, false},
        {1, ziz::InstallerResult::Failed, false},
        {1602, ziz::InstallerResult::Failed, false},  // the user cancelled
        {1603, ziz::InstallerResult::Failed, false},
        {1619, ziz::InstallerResult::Failed, false},
        {3011, ziz::InstallerResult::Failed, false},
        {0xFFFFFFFFul, ziz::InstallerResult::Failed, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ziz::ClassifyInstallerExitCode(c.code), c.result) << c.code;
        EXPECT_EQ(ziz::IsInstallerSuccess(ziz::ClassifyInstallerExitCode(c.code)), c.success) << c.code;
    }
}

TEST(InstallerExitCodes, BusyRetriesWaitDoublingFromFiveSecondsForFiveMinutesInAll)
{
    std::vector<unsigned long> waits;
    for (unsigned retry = 0; ziz::BusyRetryDelayMs(retry) != 0; ++retry) {
        waits.push_back(ziz::BusyRetryDelayMs(retry));
        ASSERT_LT(retry, 20u) << "the retries never end";
    }
    EXPECT_EQ(waits, (std::vector<unsigned long>{5000, 10000, 20000, 40000, 80000, 145000}));
    unsigned long total = 0;
    for (unsigned long wait : waits) total += wait;
    EXPECT_EQ(total, 300000ul);
    EXPECT_EQ(ziz::BusyRetryDelayMs(6), 0ul);
    EXPECT_EQ(ziz::BusyRetryDelayMs(40), 0ul);
}

}  // namespace
