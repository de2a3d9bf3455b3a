#include "engine/MediumPlan.h"

#include "engine/MediumWriter.h"
#include "engine/SpaceCheck.h"
#include "osh/DiskSpace.h"
#include "osh/Exception.h"
#include "osh/FileHash.h"
#include "osh/FileSystem.h"
#include "osh/Log.h"
#include "osh/PathCompare.h"
#include "osh/Text.h"

#include <cstdint>
#include <map>
#include <stdexcept>

namespace ziz {

namespace {

std::wstring Join(const std::wstring& folder, const std::wstring& name) { return osh::AppendBackslash(folder) + name; }

// What a file without digests of its own must be: what its source holds.
void CompleteFromSource(MediumEntry& entry, const std::wstring& setupFiles)
{
    if (!NeedsSourceDigests(entry.Expected)) return;
    osh::FileDigests source;
    if (!osh::CalculateFileDigests(entry.Source, source)) {
        throw std::runtime_error("Could not copy \"" + osh::Narrow(entry.Source) + "\" to \"" +
                                 osh::Narrow(Join(setupFiles, entry.Expected.Name)) + "\"");
    }
    entry.Expected = RecordedFrom(entry.Expected, source);
}

const std::uint64_t* FindIgnoringCase(const std::map<std::wstring, std::uint64_t>& sizes, const std::wstring& name)
{
    for (const auto& entry : sizes) {
        if (osh::ComparePaths(entry.first, name) == 0) return &entry.second;
    }
    return nullptr;
}

const MediumFile* Recorded(const MediumRecord& record, const std::wstring& name)
{
    for (const MediumFile& file : record.Files) {
        if (osh::ComparePaths(file.Name, name) == 0) return &file;
    }
    return nullptr;
}

// A file already on the medium, read as a written one is: unreadable counts as damaged.
bool ReadBackIntact(const std::wstring& onMedium, const MediumFile& expected, osh::FileDigests& digests)
{
    try {
        digests = ReadBackDigests(onMedium);
        return DigestMismatch(expected, digests).empty();
    } catch (const std::exception& error) {
        osh::LogWarning(std::string("Rewriting a file the medium cannot give back: ") + error.what());
        return false;
    }
}

}  // namespace

void PlanRefresh(std::vector<MediumEntry>& entries, const std::wstring& setupFiles)
{
    MediumRecord record;
    std::string problem;
    if (!ReadMediumRecord(setupFiles, record, problem) && !problem.empty())
        osh::LogWarning("Medium record not usable, checking the files on the medium: " + problem);
    const std::map<std::wstring, std::uint64_t> present = FileSizesIn(setupFiles);
    for (MediumEntry& entry : entries) {
        CompleteFromSource(entry, setupFiles);
        const std::uint64_t* bytes = FindIgnoringCase(present, entry.Expected.Name);
        const MediumFile* recorded = Recorded(record, entry.Expected.Name);
        entry.Action = PlanMediumFile(entry.Expected, recorded, bytes != nullptr, bytes ? *bytes : 0);
        if (entry.Action == MediumAction::Keep) entry.Recorded = *recorded;
        if (entry.Action != MediumAction::Verify) continue;
        osh::FileDigests digests;
        const bool intact = ReadBackIntact(Join(setupFiles, entry.Expected.Name), entry.Expected, digests);
        entry.Action = intact ? MediumAction::Keep : MediumAction::Copy;
        if (intact) entry.Recorded = RecordedFrom(entry.Expected, digests);
    }
}

namespace {

std::uint64_t SourceBytes(const MediumEntry& entry)
{
    if (entry.Expected.HasSize) return entry.Expected.Size;
    std::uint64_t bytes = 0;
    if (!osh::GetFileByteCount(entry.Source, bytes)) throw std::runtime_error("Cannot open " + osh::Narrow(entry.Source));
    return bytes;
}

}  // namespace

void RequireRoomOnMedium(const std::vector<MediumEntry>& entries, const std::wstring& target)
{
    std::wstring fileSystem;
    const bool knowsFileSystem = MediumFileSystem(target, fileSystem);
    std::uint64_t toWrite = 0;
    for (const MediumEntry& entry : entries) {
        if (entry.Action != MediumAction::Copy) continue;
        const std::uint64_t bytes = SourceBytes(entry);
        toWrite = bytes > ~std::uint64_t(0) - toWrite ? ~std::uint64_t(0) : toWrite + bytes;
        const std::string tooLarge = knowsFileSystem ? FileTooLargeForMedium(target, fileSystem, entry.Expected.Name, bytes) : "";
        if (!tooLarge.empty()) throw std::runtime_error(tooLarge);
    }
    const std::uint64_t needed = BytesNeeded(toWrite);
    if (needed == 0) return;
    std::uint64_t freeBytes = 0;
    try {
        freeBytes = osh::FreeBytesForCaller(target);
    } catch (const win::exception& error) {
        osh::LogWarning(std::string("Free space on the medium not known, writing without the check: ") + error.what());
        return;
    }
    const std::string shortage = SpaceShortage(target, needed, freeBytes);
    if (!shortage.empty()) throw std::runtime_error(shortage);
}

}  // namespace ziz
