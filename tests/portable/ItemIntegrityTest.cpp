// What an item promises about its file besides MD5: the size and SHA-256 rules, and the
// one-pass digests the engine compares them with. Free of Windows: built natively too.
#include "osh/Digests.h"
#include "sequence/ItemIntegrity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string>
#include <vector>

namespace {

TEST(ItemSize, OnlyPlainDecimalNumbersThatFitAreSizes)
{
    struct Case {
        const wchar_t* text;
        bool valid;
        std::uint64_t bytes;
    };
    const Case cases[] = {
        {L"0", true, 0},
        {L"1048576", true, 1048576},
        {L"007", true, 7},
        {L"18446744073709551615", true, 18446744073709551615ull},
        {L"18446744073709551616", false, 0},  // one past the largest
        {L"99999999999999999999", false, 0},
        {L"", false, 0},
        {L"-1", false, 0},
        {L"+5", false, 0},
        {L"12 ", false, 0},
        {L" 12", false, 0},
        {L"1,024", false, 0},
        {L"1.5", false, 0},
        {L"0x10", false, 0},
        {L"12a", false, 0},
        {L"\x0661", false, 0},  // a digit of another script
    };
    for (const Case& c : cases) {
        std::uint64_t bytes = 99;
        EXPECT_EQ(c.valid, ParseItemSize(c.text, bytes)) << std::string(c.text, c.text + wcslen(c.text));
        EXPECT_EQ(c.bytes, bytes);
    }
}

TEST(ItemSize, AnItemMatchesOnlyItsExactSize)
{
    InstallItem item;
    EXPECT_TRUE(SizeMatches(item, 0)) << "no size promised";
    EXPECT_TRUE(SizeMatches(item, 123456));
    item.Size = L"3";
    EXPECT_TRUE(SizeMatches(item, 3));
    EXPECT_FALSE(SizeMatches(item, 2)) << "cut-off transfer";
    EXPECT_FALSE(SizeMatches(item, 4)) << "an error page appended";
    item.Size = L"3x";
    EXPECT_FALSE(SizeMatches(item, 3)) << "a malformed size matches nothing";
    EXPECT_FALSE(SizeMatches(item, 0));
}

TEST(ItemSha256, SixtyFourHexDigitsOfEitherCase)
{
    const std::wstring lower = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    std::wstring upper = lower;
    for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
    EXPECT_TRUE(IsSha256Text(lower));
    EXPECT_TRUE(IsSha256Text(upper));
    EXPECT_FALSE(IsSha256Text(lower.substr(1)));
    EXPECT_FALSE(IsSha256Text(lower + L"0"));
    EXPECT_FALSE(IsSha256Text(L"900150983cd24fb0d6963f7d28e17f72")) << "an MD5 digest";
    EXPECT_FALSE(IsSha256Text(L"g" + lower.substr(1)));
    EXPECT_TRUE(DigestsEqual(upper, lower));
    EXPECT_FALSE(DigestsEqual(lower.substr(1) + L"0", lower));
}

TEST(ItemIntegrityDefect, NamesTheItemAndTheMalformedValue)
{
    InstallItem item;
    item.Filename = L"a.msi";
    EXPECT_EQ("", ItemIntegrityDefect(item)) << "older documents carry neither";
    item.Size = L"1024";
    item.Sha256 = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_EQ("", ItemIntegrityDefect(item));

    item.Size = L"1 KiB";
    EXPECT_EQ("Install item \"a.msi\" has a malformed Size \"1 KiB\" (expected a decimal number of bytes); "
              "its file cannot pass verification",
              ItemIntegrityDefect(item));
    item.Size = L"1024";
    item.Sha256 = L"900150983cd24fb0d6963f7d28e17f72";
    EXPECT_EQ("Install item \"a.msi\" has a malformed Sha256 \"900150983cd24fb0d6963f7d28e17f72\" "
              "(expected 64 hexadecimal digits); its file cannot pass verification",
              ItemIntegrityDefect(item));
}

// Content nobody else computes the same way: byte i is (i * 31 + 7) mod 251.
std::vector<unsigned char> PatternBytes(std::size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>((i * 31 + 7) % 251);
    return bytes;
}

TEST(DigestPair, KnownDigestsOfNoDataAndOfAbc)
{
    osh::DigestPair empty;
    const osh::FileDigests none = empty.Finish();
    EXPECT_EQ(L"d41d8cd98f00b204e9800998ecf8427e", none.Md5);
    EXPECT_EQ(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855", none.Sha256);
    EXPECT_EQ(0u, none.Bytes);

    osh::DigestPair abc;
    abc.Update("abc", 3);
    const osh::FileDigests digests = abc.Finish();
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", digests.Md5);
    EXPECT_EQ(L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", digests.Sha256);
    EXPECT_EQ(3u, digests.Bytes);
}

TEST(DigestPair, PiecesOfAnySizeGiveTheDigestsOfTheWhole)
{
    // Three MiB and 17 bytes, the file the Windows test digests in 1 MiB reads.
    const std::vector<unsigned char> bytes = PatternBytes(3 * 1024 * 1024 + 17);
    osh::DigestPair whole;
    whole.Update(bytes.data(), bytes.size());
    const osh::FileDigests expected = whole.Finish();
    EXPECT_EQ(L"fd1d49162755d499d59a23ff5e4a0627", expected.Md5);
    EXPECT_EQ(L"e7bff00c7b67234117b8c364725cf2b41fc31f7f46674b1a4a6b3c5516b3a6ed", expected.Sha256);

    for (std::size_t piece : {std::size_t(1) << 20, std::size_t(1000), std::size_t(63)}) {
        osh::DigestPair pieces;
        for (std::size_t at = 0; at < bytes.size(); at += piece)
            pieces.Update(bytes.data() + at, std::min(piece, bytes.size() - at));
        const osh::FileDigests digests = pieces.Finish();
        EXPECT_EQ(expected.Md5, digests.Md5) << piece;
        EXPECT_EQ(expected.Sha256, digests.Sha256) << piece;
        EXPECT_EQ(bytes.size(), digests.Bytes);
    }
}

}  // namespace
