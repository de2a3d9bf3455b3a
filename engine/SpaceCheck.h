#pragma once
// Whether the setup-files drive can take the components still to fetch. Decisions only:
// the caller asks the system for the free bytes. Free of Windows headers.
#include "sequence/InstallItem.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ziz {

// Room kept beyond the components themselves, for the temporary copies of a transfer and
// the log: a tenth of the bytes needed, at least 16 MiB.
constexpr std::uint64_t kMinimumSpaceMargin = 16ull * 1024 * 1024;

// Sum of the sizes the items name; an item without a well-formed Size counts 0. Saturates
// rather than wrapping.
std::uint64_t BytesToFetch(const std::vector<const InstallItem*>& items);

// The bytes the drive must have free for a fetch of bytesToFetch: 0 when nothing is
// known to be fetched, else the bytes plus the margin (saturating).
std::uint64_t BytesNeeded(std::uint64_t bytesToFetch);

// The line a run that cannot fit fails with, or empty when the free bytes suffice.
std::string SpaceShortage(const std::wstring& drive, std::uint64_t needed, std::uint64_t freeBytes);

}  // namespace ziz
