// Whether the setup-files drive can take the components still to fetch: the sum of the
// sizes the items name, the margin kept beyond it, and the line a run fails with.
#include "engine/SpaceCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using ziz::BytesNeeded;
using ziz::BytesToFetch;

using ziz::SpaceShortage;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr std::uint64_t kMax = 18446744073709551615ull;

std::uint64_t FetchOf(const std::vector<std::wstring>& sizes)
{
    std::vector<InstallItem> items(sizes.size());
    std::vector<const InstallItem*> pointers;
    for (size_t i = 0; i < sizes.size(); ++i) {
        items[i].Size = sizes[i];
        pointers.push_back(&items[i]);
    }
    return BytesToFetch(pointers);
}

TEST(SpaceCheck, SizesOfTheQueuedItemsAddUpAndUnknownSizesCountNothing)
{
    struct Case {
        std::vector<std::wstring> sizes;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {{}, 0},
        {{L""}, 0},                                  // an older document names no size
        {{L"10240", L"106496"}, 116736},
        {{L"10240", L"", L"5"}, 10245},
        {{L"12 ", L"-1", L"0x10", L"7"}, 7},         // malformed sizes match no file: not counted
        {{L"18446744073709551615", L"1"}, kMax},     // saturates instead of wrapping to 0
        {{L"18446744073709551616"}, 0},              // too large to be a size at all
    };
    for (const Case& c : cases) EXPECT_EQ(c.bytes, FetchOf(c.sizes)) << c.sizes.size() << " items";
}

TEST(SpaceCheck, MarginIsATenthOfTheBytesAndAtLeastSixteenMiB)
{
    struct Case {
        std::uint64_t fetch;
        std::uint64_t needed;
    };
    const Case cases[] = {
        {0, 0},                                  // nothing known to fetch: no demand at all
        {1, 1 + 16 * kMiB},
        {116736, 116736 + 16 * kMiB},            // the sample release's two first components
        {160 * kMiB, 176 * kMiB},                // where a tenth reaches the minimum
        {256 * kMiB, 256 * kMiB + 256 * kMiB / 10},
        {kMax - 1, kMax},                        // saturates
    };
    for (const Case& c : cases) EXPECT_EQ(c.needed, BytesNeeded(c.fetch)) << c.fetch;
}

TEST(SpaceCheck, ShortageNamesTheDriveTheBytesNeededAndTheBytesFree)
{
    EXPECT_EQ("Not enough space on C:\\ for the components: 123456789 bytes needed, 1234 bytes free",
              SpaceShortage(L"C:\\", 123456789, 1234));
    EXPECT_EQ("Not enough space on K:\\ for the components: 16894464 bytes needed, 16894463 bytes free",
              SpaceShortage(L"K:\\", 16894464, 16894463));
    // Exactly enough, more than enough and a demand of nothing all pass.
    EXPECT_EQ("", SpaceShortage(L"C:\\", 16894464, 16894464));
    EXPECT_EQ("", SpaceShortage(L"C:\\", 1, kMax));
    EXPECT_EQ("", SpaceShortage(L"C:\\", 0, 0));
}

}  // namespace
