#include "engine/SpaceCheck.h"

#include "osh/Text.h"
#include "sequence/ItemIntegrity.h"

#include <limits>

namespace ziz {

namespace {

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) { return a > kMax - b ? kMax : a + b; }

}  // namespace

std::uint64_t BytesToFetch(const std::vector<const InstallItem*>& items)
{
    std::uint64_t total = 0;
    for (const InstallItem* item : items) {
        std::uint64_t bytes = 0;
        if (!item->Size.empty() && ParseItemSize(item->Size, bytes)) total = SaturatingAdd(total, bytes);
    }
    return total;
}

std::uint64_t BytesNeeded(std::uint64_t bytesToFetch)
{
    if (bytesToFetch == 0) return 0;
    const std::uint64_t tenth = bytesToFetch / 10;
    return SaturatingAdd(bytesToFetch, tenth < kMinimumSpaceMargin ? kMinimumSpaceMargin : tenth);
}

std::string SpaceShortage(const std::wstring& drive, std::uint64_t needed, std::uint64_t freeBytes)
{
    if (freeBytes >= needed) return std::string();
    return "Not enough space on " + osh::ToUtf8(drive) + " for the components: " + std::to_string(needed) +
           " bytes needed, " + std::to_string(freeBytes) + " bytes free";
}

}  // namespace ziz
