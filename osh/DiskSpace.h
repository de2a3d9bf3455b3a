#pragma once
// What the system says about the drive a folder lies on.
#include <cstdint>
#include <string>

namespace osh {

// Bytes this process may still write on the drive holding path (quotas count), from
// GetDiskFreeSpaceExW (a folder not made yet: that of its nearest existing parent); throws win::exception "GetDiskFreeSpaceEx("<path>")".
std::uint64_t FreeBytesForCaller(const std::wstring& path);

// The root of the volume holding path ("C:\"), from GetVolumePathNameW; the path itself
// when the system cannot say.
std::wstring VolumeOf(const std::wstring& path);

}  // namespace osh
