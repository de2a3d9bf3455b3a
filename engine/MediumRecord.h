#pragma once
// The completeness record of an appliance medium and the rules that judge a medium's files:
// what each file must be, whether one already there can stay, what the file system and the
// free space allow, and whether a medium still matches its record. Decisions only; the
// medium writer and the states read the files. Free of Windows headers.
#include "osh/Digests.h"
#include "sequence/InstallItem.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ziz {

// Lies beside the components in the medium's setup-files folder; written last, so its
// presence means every file beside it passed its read-back.
extern const wchar_t kMediumRecordName[];

// One file of the medium. As an expectation, an empty digest or an unknown size is not checked;
// in a record every field is set.
struct MediumFile {
    std::wstring Name;
    std::wstring Md5;
    std::wstring Sha256;
    bool HasSize = false;
    std::uint64_t Size = 0;
};

struct MediumRecord {
    std::wstring BootstrapperVersion;
    std::string Written;  // UTC, ISO 8601
    std::vector<MediumFile> Files;
};

// The record as the medium carries it (UTF-8 XML).
std::string FormatMediumRecord(const MediumRecord& record);

// The record from its text; false with the reason when it is not a well-formed record.
bool ParseMediumRecord(const std::string& text, MediumRecord& out, std::string& problem);

// What the item promises about its file: its digests and, when well formed, its size.
MediumFile ExpectedFromItem(const InstallItem& item);

// Neither digest known: the file is checked against its source's digests instead.
bool NeedsSourceDigests(const MediumFile& expected);

// The expectation completed with what was read from a file that met it.
MediumFile RecordedFrom(const MediumFile& expected, const osh::FileDigests& digests);

// Which promise digests read from a file break ("size", "md5", "sha256"), or empty.
std::string DigestMismatch(const MediumFile& expected, const osh::FileDigests& digests);

enum class MediumAction {
    Keep,    // the record vouches for the file and its size is right
    Verify,  // present with a plausible size: its digests decide
    Copy     // missing or of another size
};

// What a refresh does with one file; recorded is the record's entry of that name, or null.
MediumAction PlanMediumFile(const MediumFile& expected, const MediumFile* recorded, bool present,
                            std::uint64_t presentBytes);

// The largest file the named file system holds ("FAT32": 4 GiB less one byte).
std::uint64_t MaxFileBytes(const std::wstring& fileSystem);

// The line a file too large for the medium's file system fails with, or empty.
std::string FileTooLargeForMedium(const std::wstring& target, const std::wstring& fileSystem,
                                  const std::wstring& name, std::uint64_t bytes);

// Why the files on a medium (bare name, any letter case -> bytes) no longer match its
// record, or empty when every recorded file is there with its recorded size.
std::string MediumRecordMismatch(const MediumRecord& record, const std::map<std::wstring, std::uint64_t>& present);

}  // namespace ziz
