// File integrity primitives on real files: MD5 digests through CryptoAPI and Authenticode
// trust through the system's trust provider.
#include "osh/Exception.h"
#include "osh/FileHash.h"
#include "osh/Signature.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

class ScratchFiles : public ::testing::Test {
protected:
    void SetUp() override { directory_ = testenv::MakeScratchDirectory(L"integrity"); }
    void TearDown() override { testenv::RemoveTree(directory_); }

    std::wstring Write(const std::wstring& name, const std::string& bytes)
    {
        const std::wstring path = directory_ + L"\\" + name;
        std::ofstream out(path.c_str(), std::ios::binary);
        out << bytes;
        out.close();
        EXPECT_FALSE(out.fail()) << "could not write " << testenv::Narrow(path);
        return path;
    }

    std::wstring directory_;
};

// Content nobody else computes the same way: byte i is (i * 31 + 7) mod 251.
std::string PatternBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) % 251);
    return bytes;
}

using FileHash = ScratchFiles;

TEST_F(FileHash, EmptyFileGivesTheDigestOfNoData)
{
    const std::wstring path = Write(L"empty.bin", "");
    EXPECT_EQ(L"d41d8cd98f00b204e9800998ecf8427e", osh::CalculateFileHash(path));
    std::wstring out = L"stale";
    EXPECT_TRUE(osh::CalculateFileHash(path, out));
    EXPECT_EQ(L"d41d8cd98f00b204e9800998ecf8427e", out);
}

TEST_F(FileHash, DigestsAreLowerCaseHexOfTheWholeFile)
{
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", osh::CalculateFileHash(Write(L"abc.txt", "abc")));
    // Three MiB and 17 bytes: many full blocks and a short last one.
    EXPECT_EQ(L"fd1d49162755d499d59a23ff5e4a0627",
              osh::CalculateFileHash(Write(L"pattern.bin", PatternBytes(3 * 1024 * 1024 + 17))));
}

TEST_F(FileHash, LockedFileFailsAtTheOpenStep)
{
    const std::wstring path = Write(L"locked.bin", "abc");
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    try {
        osh::CalculateFileHash(path);
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), error.code());
        EXPECT_EQ("CreateFile(" + testenv::Narrow(path) + ")", error.context());
    }
    std::wstring out = L"stale";
    EXPECT_FALSE(osh::CalculateFileHash(path, out));
    EXPECT_EQ(L"", out);
    CloseHandle(exclusive);
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", osh::CalculateFileHash(path));
}

TEST_F(FileHash, MissingFileAndDirectoryFail)
{
    try {
        osh::CalculateFileHash(directory_ + L"\\missing.bin");
        ADD_FAILURE() << "no exception";
    } catch (const win::exception& error) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error.code());
    }
    std::wstring out;
    EXPECT_FALSE(osh::CalculateFileHash(directory_, out));
}

TEST_F(FileHash, ReadersSharingTheFileDoNotStopIt)
{
    const std::wstring path = Write(L"shared.bin", "abc");
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    std::wstring out;
    EXPECT_TRUE(osh::CalculateFileHash(path, out));
    CloseHandle(reader);
    EXPECT_EQ(L"900150983cd24fb0d6963f7d28e17f72", out);
}

// Copies of a small program made on the build machine before this test runs: unsigned,
// signed with a throw-away certificate, and signed with one byte changed afterwards.
std::wstring SignedCopy(const wchar_t* name)
{
    return testenv::BuildDirectory() + L"\\tests\\integrity\\signed\\" + name;
}

TEST(FileSignature, OnlyAnIntactSignaturePasses)
{
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(SignedCopy(L"signed.exe").c_str()))
        << "the signing step did not run";
    EXPECT_TRUE(osh::CheckFileSignature(SignedCopy(L"signed.exe")));
    EXPECT_FALSE(osh::CheckFileSignature(SignedCopy(L"unsigned.exe")));
    EXPECT_FALSE(osh::CheckFileSignature(SignedCopy(L"tampered.exe")));
}

TEST(FileSignature, UnreadableOrNonProgramFilesFail)
{
    EXPECT_FALSE(osh::CheckFileSignature(SignedCopy(L"missing.exe")));
    EXPECT_FALSE(osh::CheckFileSignature(SignedCopy(L"signer.crt")));
    // Asked again after failures: nothing was left behind that changes the answer.
    EXPECT_TRUE(osh::CheckFileSignature(SignedCopy(L"signed.exe")));
    EXPECT_TRUE(osh::CheckFileSignature(SignedCopy(L"signed.exe")));
}

}  // namespace
