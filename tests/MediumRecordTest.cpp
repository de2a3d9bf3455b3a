// The rules of an appliance medium: its completeness record, what a refresh keeps, what the
// target's file system holds, and when a medium no longer matches its record.
#include "engine/MediumRecord.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using ziz::MediumAction;
using ziz::MediumFile;
using ziz::MediumRecord;

const std::wstring kMd5 = L"0123456789abcdef0123456789abcdef";
const std::wstring kSha = L"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

MediumFile File(const std::wstring& name, std::uint64_t size, const std::wstring& md5 = kMd5,
                const std::wstring& sha = kSha)
{
    MediumFile file;
    file.Name = name;
    file.Size = size;
    file.HasSize = true;
    file.Md5 = md5;
    file.Sha256 = sha;
    return file;
}

MediumRecord TwoFiles()
{
    MediumRecord record;
    record.BootstrapperVersion = L"5.0.1038.10828";
    record.Written = "2026-12-09T10:35:00Z";
    record.Files = {File(L"norlo5-services-x64.msi", 40960), File(L"Setup.exe", 1440768)};
    return record;
}

TEST(MediumRecordText, ReadsBackWhatItWrote)
{
    const MediumRecord record = TwoFiles();
    MediumRecord read;
    std::string problem;
    ASSERT_TRUE(ziz::ParseMediumRecord(ziz::FormatMediumRecord(record), read, problem)) << problem;
    EXPECT_EQ(record.BootstrapperVersion, read.BootstrapperVersion);
    EXPECT_EQ(record.Written, read.Written);
    ASSERT_EQ(2u, read.Files.size());
    EXPECT_EQ(L"Setup.exe", read.Files[1].Name);
    EXPECT_EQ(1440768u, read.Files[1].Size);
    EXPECT_TRUE(read.Files[1].HasSize);
    EXPECT_EQ(kMd5, read.Files[0].Md5);
    EXPECT_EQ(kSha, read.Files[0].Sha256);
    // Names and versions are escaped; sizes beyond 32 bits survive (a medium on exFAT or NTFS).
    MediumRecord large = record;
    large.Files[0].Size = 6000000000ull;
    large.Files[0].Name = L"a&b<\"'>.msi";
    ASSERT_TRUE(ziz::ParseMediumRecord(ziz::FormatMediumRecord(large), read, problem)) << problem;
    EXPECT_EQ(6000000000ull, read.Files[0].Size);
    EXPECT_EQ(L"a&b<\"'>.msi", read.Files[0].Name);
}

TEST(MediumRecordText, RefusesWhatIsNotARecordAndKeepsTheOutput)
{
    const std::string head = "<medium format=\"1\" bootstrapperVersion=\"5\" written=\"t\">";
    const std::vector<std::string> bad = {
        "",
        "not xml",
        "<medium format=\"1\" bootstrapperVersion=\"5\" written=\"t\">",  // cut off
        "<other format=\"1\" bootstrapperVersion=\"5\" written=\"t\"/>",
        "<medium format=\"2\" bootstrapperVersion=\"5\" written=\"t\"/>",
        "<medium format=\"1\" written=\"t\"/>",
        head + "<file size=\"1\" md5=\"a\" sha256=\"b\"/></medium>",
        head + "<file name=\"\" size=\"1\" md5=\"a\" sha256=\"b\"/></medium>",
        head + "<file name=\"a\" size=\"x\" md5=\"a\" sha256=\"b\"/></medium>",
        head + "<file name=\"a\" size=\"-1\" md5=\"a\" sha256=\"b\"/></medium>",
        head + "<file name=\"a\" size=\"18446744073709551616\" md5=\"a\" sha256=\"b\"/></medium>",
        head + "<file name=\"a\" size=\"1\" sha256=\"b\"/></medium>",
    };
    for (const std::string& text : bad) {
        MediumRecord out = TwoFiles();
        std::string problem;
        EXPECT_FALSE(ziz::ParseMediumRecord(text, out, problem)) << text;
        EXPECT_FALSE(problem.empty()) << text;
        EXPECT_EQ(2u, out.Files.size()) << text;
    }
}

TEST(MediumExpectation, ComesFromTheItemOrFromTheSource)
{
    InstallItem item;
    item.Filename = L"a.msi";
    item.Hash = kMd5;
    item.Size = L"1234";
    MediumFile expected = ziz::ExpectedFromItem(item);
    EXPECT_EQ(L"a.msi", expected.Name);
    EXPECT_TRUE(expected.HasSize);
    EXPECT_EQ(1234u, expected.Size);
    EXPECT_FALSE(ziz::NeedsSourceDigests(expected));
    item.Size = L"12 34";  // malformed: not a size to hold the file to
    EXPECT_FALSE(ziz::ExpectedFromItem(item).HasSize);
    item.Hash.clear();
    EXPECT_TRUE(ziz::NeedsSourceDigests(ziz::ExpectedFromItem(item)));
    item.Sha256 = kSha;
    EXPECT_FALSE(ziz::NeedsSourceDigests(ziz::ExpectedFromItem(item)));
}

TEST(MediumReadBack, NamesTheFirstBrokenPromise)
{
    struct Case {
        MediumFile expected;
        osh::FileDigests read;
        std::string mismatch;
    };
    MediumFile digestsOnly = File(L"a", 0);
    digestsOnly.HasSize = false;
    MediumFile md5Only = File(L"a", 10, kMd5, L"");
    const std::vector<Case> cases = {
        {File(L"a", 10), {kMd5, kSha, 10}, ""},
        {File(L"a", 10), {L"0123456789ABCDEF0123456789ABCDEF", kSha, 10}, ""},  // letter case of digests
        {File(L"a", 10), {kMd5, kSha, 11}, "size"},
        {File(L"a", 10), {L"ffffffffffffffffffffffffffffffff", kSha, 10}, "md5"},
        {File(L"a", 10), {kMd5, L"ff", 10}, "sha256"},
        {digestsOnly, {kMd5, kSha, 999}, ""},  // no size promised
        {md5Only, {kMd5, L"anything", 10}, ""},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].mismatch, ziz::DigestMismatch(cases[i].expected, cases[i].read)) << "case " << i;
}

TEST(MediumRefresh, KeepsWhatTheRecordVouchesForAndReadsWhatItCannot)
{
    const MediumFile expected = File(L"a.msi", 100);
    MediumFile sizeless = expected;
    sizeless.HasSize = false;
    const MediumFile recorded = File(L"a.msi", 100);
    const MediumFile otherDigest = File(L"a.msi", 100, L"ffffffffffffffffffffffffffffffff");
    struct Case {
        MediumFile expected;
        const MediumFile* recorded;
        bool present;
        std::uint64_t bytes;
        MediumAction action;
    };
    const std::vector<Case> cases = {
        {expected, &recorded, false, 0, MediumAction::Copy},       // pulled out or never written
        {expected, &recorded, true, 99, MediumAction::Copy},       // another size than the item's
        {expected, &recorded, true, 100, MediumAction::Keep},
        {expected, nullptr, true, 100, MediumAction::Verify},      // no record: the digests decide
        {expected, &otherDigest, true, 100, MediumAction::Verify}, // recorded for another release
        {sizeless, &recorded, true, 100, MediumAction::Keep},
        {sizeless, &recorded, true, 101, MediumAction::Verify},    // changed since the record
        {File(L"a.msi", 100, L"", L""), &recorded, true, 100, MediumAction::Verify},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].action,
                  ziz::PlanMediumFile(cases[i].expected, cases[i].recorded, cases[i].present, cases[i].bytes))
            << "case " << i;
    }
}

TEST(MediumFileSystem, FatHoldsFilesUnderFourGibibytes)
{
    EXPECT_EQ(4294967295ull, ziz::MaxFileBytes(L"FAT32"));
    EXPECT_EQ(4294967295ull, ziz::MaxFileBytes(L"fat"));
    EXPECT_EQ(4294967295ull, ziz::MaxFileBytes(L"FAT16"));
    EXPECT_LT(4294967296ull * 1024, ziz::MaxFileBytes(L"exFAT"));
    EXPECT_LT(4294967296ull * 1024, ziz::MaxFileBytes(L"NTFS"));
    EXPECT_EQ("", ziz::FileTooLargeForMedium(L"E:\\", L"FAT32", L"big.msi", 4294967295ull));
    EXPECT_EQ("The medium E:\\ (FAT32) cannot hold big.msi: 4294967296 bytes needed, at most 4294967295 bytes per file",
              ziz::FileTooLargeForMedium(L"E:\\", L"FAT32", L"big.msi", 4294967296ull));
    EXPECT_EQ("", ziz::FileTooLargeForMedium(L"E:\\", L"exFAT", L"big.msi", 4294967296ull));
}

TEST(MediumCompleteness, EveryRecordedFileWithItsSize)
{
    const MediumRecord record = TwoFiles();
    struct Case {
        std::map<std::wstring, std::uint64_t> present;
        std::string mismatch;
    };
    const std::vector<Case> cases = {
        {{{L"norlo5-services-x64.msi", 40960}, {L"Setup.exe", 1440768}}, ""},
        {{{L"NORLO5-SERVICES-X64.MSI", 40960}, {L"setup.exe", 1440768}, {L"extra.txt", 1}}, ""},
        {{{L"Setup.exe", 1440768}}, "norlo5-services-x64.msi is missing"},
        {{{L"norlo5-services-x64.msi", 4096}, {L"Setup.exe", 1440768}},
         "norlo5-services-x64.msi has 4096 bytes, the record says 40960"},
    };
    for (size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(cases[i].mismatch, ziz::MediumRecordMismatch(record, cases[i].present)) << "case " << i;
    EXPECT_EQ("the record names no files", ziz::MediumRecordMismatch(MediumRecord(), {{L"Setup.exe", 1}}));
}

}  // namespace
