#pragma once
// The effects of preparing an appliance medium: what the target's volume allows, files
// written under a temporary name, read back from the medium and only then renamed into
// place, and the completeness record. The rules they follow are in MediumRecord.
#include "engine/MediumRecord.h"
#include "osh/Digests.h"
#include "osh/PinnedFolder.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

namespace ziz {

// The target exists as a folder and takes a new file (a probe deleted on close); throws
// std::runtime_error naming the target otherwise. Changes nothing on the medium.
void RequireWritableTarget(const std::wstring& target);

// The name of the file system holding target ("FAT32", "NTFS"); false (logged as a
// warning) when the system cannot say. A read-only volume throws std::runtime_error.
bool MediumFileSystem(const std::wstring& target, std::wstring& fileSystem);

// Both digests of a file on the medium, read past the system's cache where the file system
// allows it, so a medium that keeps less than it accepted is caught. Throws win::exception.
osh::FileDigests ReadBackDigests(const std::wstring& path);

// Copies source to "<name>.new" in the medium's folder, reads that back, and renames it to
// name only when it meets expected; what to record for it. Every change is made relative to
// the folder's handle, so a link planted on the medium leads nothing elsewhere. A failed
// copy or check throws std::runtime_error naming the file and removes the temporary copy;
// whatever was at name stays.
MediumFile CopyToMedium(const std::wstring& source, const osh::PinnedFolder& folder, const std::wstring& name,
                        const MediumFile& expected);

// The record in folder: false with an empty problem when there is none, with the reason when it
// cannot be read.
bool ReadMediumRecord(const std::wstring& folder, MediumRecord& record, std::string& problem);

// Removes the record from folder before a refresh changes anything; throws when one is
// there and stays.
void RemoveMediumRecord(const osh::PinnedFolder& folder);

// Writes the record to a temporary name beside it, flushes it, and renames it into place.
// Throws win::exception.
void WriteMediumRecord(const osh::PinnedFolder& folder, const MediumRecord& record);

// The files of folder (bare names) with their sizes; empty when it cannot be listed.
std::map<std::wstring, std::uint64_t> FileSizesIn(const std::wstring& folder);

// Now, as the record notes it (UTC, ISO 8601).
std::string RecordTimestamp();

// Test seams, each returning the previous value; null restores the real behaviour.
// The volume query (tests cannot mount a FAT volume here).
using VolumeInformationFunction = BOOL(WINAPI*)(LPCWSTR root, LPWSTR name, DWORD nameSize, LPDWORD serial,
                                               LPDWORD componentLength, LPDWORD flags, LPWSTR fileSystem,
                                               DWORD fileSystemSize);
VolumeInformationFunction SetVolumeInformationFunction(VolumeInformationFunction function);
// Called with the temporary copy's path between the write and the read-back.
using MediumWrittenHook = void (*)(const std::wstring& written);
MediumWrittenHook SetMediumWrittenHook(MediumWrittenHook hook);

}  // namespace ziz
