// File integrity primitives on real files: MD5 digests through CryptoAPI and Authenticode
// trust through the system's trust provider.
#include "engine/FileVersion.h"
#include "engine/SelfSignature.h"
#include "engine/VerifyItemFile.h"
#include "osh/Exception.h"
#include "osh/FileHash.h"
#include "osh/Signature.h"
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"
#include "support/TestWorker.h"

#include "BuildConfig.h"

#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>
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
    const std::wstring pattern = Write(L"pattern.bin", PatternBytes(3 * 1024 * 1024 + 17));
    EXPECT_EQ(L"fd1d49162755d499d59a23ff5e4a0627", osh::CalculateFileHash(pattern));
    const osh::FileDigests digests = osh::CalculateFileDigests(pattern);
    EXPECT_EQ(L"fd1d49162755d499d59a23ff5e4a0627", digests.Md5);
    EXPECT_EQ(L"e7bff00c7b67234117b8c364725cf2b41fc31f7f46674b1a4a6b3c5516b3a6ed", digests.Sha256);
    EXPECT_EQ(3u * 1024 * 1024 + 17, digests.Bytes);
    std::uint64_t bytes = 0;
    EXPECT_TRUE(osh::GetFileByteCount(pattern, bytes));
    EXPECT_EQ(3u * 1024 * 1024 + 17, bytes);
    EXPECT_FALSE(osh::GetFileByteCount(directory_ + L"\\missing.bin", bytes));
}

TEST_F(FileHash, BlocksHandOverTheWholeFileInOrder)
{
    const std::string content = PatternBytes(3 * 1024 * 1024 + 17);
    const std::wstring path = Write(L"blocks.bin", content);
    std::string seen;
    int calls = 0;
    osh::ReadFileBlocks(path, [&](const unsigned char* data, std::size_t size) {
        ++calls;
        EXPECT_NE(0u, size) << "block " << calls;
        seen.append(reinterpret_cast<const char*>(data), size);
    });
    EXPECT_TRUE(seen == content) << seen.size() << " bytes handed over of " << content.size();
    EXPECT_GE(calls, 4) << "a short last block after the full ones";

    calls = 0;
    osh::ReadFileBlocks(Write(L"nothing.bin", ""), [&](const unsigned char*, std::size_t) { ++calls; });
    EXPECT_EQ(0, calls);

    // A consumer that gives up ends the reading with its exception, and the file is closed.
    EXPECT_THROW(osh::ReadFileBlocks(path, [](const unsigned char*, std::size_t) { throw std::runtime_error("stop"); }),
                 std::runtime_error);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << GetLastError();
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

TEST_F(FileHash, AnOpenFileIsDigestedFromItsFirstByteThroughItsHandle)
{
    const std::wstring pattern = Write(L"held.bin", PatternBytes(3 * 1024 * 1024 + 17));
    HANDLE held = CreateFileW(pattern.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    char first[100];
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(held, first, sizeof first, &read, nullptr));  // whatever was read before
    // The name now leads elsewhere for anyone who looks it up; the handle still reads the held bytes.
    const std::wstring other = Write(L"other.bin", "abc");
    osh::FileDigests digests;
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_TRUE(osh::CalculateFileDigests(held, other, digests)) << "pass " << pass;
        EXPECT_EQ(L"fd1d49162755d499d59a23ff5e4a0627", digests.Md5);
        EXPECT_EQ(L"e7bff00c7b67234117b8c364725cf2b41fc31f7f46674b1a4a6b3c5516b3a6ed", digests.Sha256);
        EXPECT_EQ(3u * 1024 * 1024 + 17, digests.Bytes);
    }
    std::uint64_t bytes = 0;
    EXPECT_TRUE(osh::GetFileByteCount(held, bytes));
    EXPECT_EQ(3u * 1024 * 1024 + 17, bytes);
    CloseHandle(held);

    digests.Md5 = L"stale";
    EXPECT_FALSE(osh::CalculateFileDigests(INVALID_HANDLE_VALUE, pattern, digests));
    EXPECT_EQ(L"", digests.Md5);
    EXPECT_FALSE(osh::GetFileByteCount(INVALID_HANDLE_VALUE, bytes));
    EXPECT_EQ(0u, bytes);
    // A handle that may not read the content gives no digest.
    HANDLE attributesOnly = CreateFileW(pattern.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, attributesOnly);
    EXPECT_FALSE(osh::CalculateFileDigests(attributesOnly, pattern, digests));
    CloseHandle(attributesOnly);
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

// Small programs built with this test: no version resource, a FileVersion text with commas
// and blanks, fixed version information only.
std::wstring IntegrityProgram(const wchar_t* name)
{
    return testenv::BuildDirectory() + L"\\tests\\integrity\\" + name;
}

TEST(FileVersion, ThreeSourcesInOrder)
{
    std::wstring version = L"stale";
    ASSERT_TRUE(ziz::ReadFileVersion(version, testenv::SetupExecutable()));
    EXPECT_EQ(testenv::Widen(NORLO_VERSION_TEXT), version);

    ASSERT_TRUE(ziz::ReadFileVersion(version, IntegrityProgram(L"IntegrityCommaVersion.exe")));
    EXPECT_EQ(L"5, 0, 1038, 10828", version) << "the stored text, not the fixed numbers";

    ASSERT_TRUE(ziz::ReadFileVersion(version, IntegrityProgram(L"IntegrityFixedOnly.exe")));
    EXPECT_EQ(L"1.2.3.65535", version);
}

TEST(FileVersion, FilesWithoutVersionFail)
{
    std::wstring version = L"stale";
    EXPECT_FALSE(ziz::ReadFileVersion(version, IntegrityProgram(L"IntegrityPlain.exe")));
    EXPECT_EQ(L"", version);
    version = L"stale";
    EXPECT_FALSE(ziz::ReadFileVersion(version, IntegrityProgram(L"missing.exe")));
    EXPECT_EQ(L"", version);
}

// The engine's own logic with the real version reader behind GetFileVersion.
class VerifyingWorker : public testsupport::TestWorker {
public:
    using ziz::Worker::SetSelfSigned;
    bool GetFileVersion(std::wstring& version, const std::wstring& path) override
    {
        return ziz::ReadFileVersion(version, path);
    }
};

class ItemVerification : public ScratchFiles {
protected:
    // The one warning line the check wrote, or a note that there was not exactly one.
    std::string OnlyWarning()
    {
        const auto lines = log_.Lines();
        if (lines.size() != 1) return "<" + std::to_string(lines.size()) + " lines>";
        if (lines[0].priority != Poco::Message::PRIO_WARNING) return "<not a warning> " + lines[0].text;
        return lines[0].text;
    }

    testsupport::LogCapture log_;
    VerifyingWorker worker_;
    InstallItem item_;
};

TEST_F(ItemVerification, FileThatOpensPassesWhenNothingElseIsAsked)
{
    EXPECT_TRUE(worker_.VerifyItemFile(item_, Write(L"a.msi", "abc")));
    EXPECT_TRUE(worker_.VerifyItemFile(item_, Write(L"empty.msi", "")));
    EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(ItemVerification, UnopenableFileFailsFirst)
{
    item_.Hash = L"900150983cd24fb0d6963f7d28e17f72";
    item_.Version = L"1.0.0.0";
    const std::wstring missing = directory_ + L"\\missing.msi";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, missing));
    EXPECT_EQ("Unable to open file " + testenv::Narrow(missing), OnlyWarning());

    log_.Clear();
    const std::wstring path = Write(L"locked.msi", "abc");
    HANDLE exclusive = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, exclusive);
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    CloseHandle(exclusive);
    EXPECT_EQ("Unable to open file " + testenv::Narrow(path), OnlyWarning());
}

TEST_F(ItemVerification, HashComparesIgnoringCase)
{
    const std::wstring path = Write(L"abc.msi", "abc");
    item_.Hash = L"900150983CD24FB0D6963F7D28E17F72";
    EXPECT_TRUE(worker_.VerifyItemFile(item_, path));
    EXPECT_TRUE(log_.Lines().empty());

    item_.Hash = L"900150983cd24fb0d6963f7d28e17f73";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    EXPECT_EQ("Hash comparison failure on file " + testenv::Narrow(path), OnlyWarning());
}

TEST_F(ItemVerification, SizeIsCheckedBeforeAnyDigest)
{
    const std::wstring path = Write(L"abc.msi", "abc");
    item_.Size = L"3";
    item_.Hash = L"900150983cd24fb0d6963f7d28e17f72";
    EXPECT_TRUE(worker_.VerifyItemFile(item_, path));
    EXPECT_TRUE(log_.Lines().empty());

    // A cut-off transfer with a wrong digest reports the size, the first check that fails.
    item_.Size = L"4";
    item_.Hash = L"00000000000000000000000000000000";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    EXPECT_EQ("Size comparison failure on file " + testenv::Narrow(path), OnlyWarning());

    log_.Clear();
    item_.Size = L"3 bytes";
    item_.Hash.clear();
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    EXPECT_EQ("Size comparison failure on file " + testenv::Narrow(path), OnlyWarning());
}

TEST_F(ItemVerification, Sha256IsCheckedAfterMd5)
{
    const std::wstring path = Write(L"abc.msi", "abc");
    item_.Sha256 = L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
    EXPECT_TRUE(worker_.VerifyItemFile(item_, path)) << "SHA-256 alone, either letter case";
    item_.Hash = L"900150983cd24fb0d6963f7d28e17f72";
    EXPECT_TRUE(worker_.VerifyItemFile(item_, path));
    EXPECT_TRUE(log_.Lines().empty());

    item_.Sha256 = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    EXPECT_EQ("SHA-256 comparison failure on file " + testenv::Narrow(path), OnlyWarning());

    log_.Clear();
    item_.Hash = L"900150983cd24fb0d6963f7d28e17f73";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    EXPECT_EQ("Hash comparison failure on file " + testenv::Narrow(path), OnlyWarning());
}

TEST_F(ItemVerification, FileBeingWrittenIsCheckedOnTheBytesItHoldsWhenRead)
{
    // The check by name reads through one handle that shares writing: a file someone still
    // writes is judged on what it holds then. Only a holder that denies writers (the
    // elevated run's held component) makes the verdict last.
    const std::wstring path = Write(L"growing.msi", "abc");
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    item_.Hash = L"900150983cd24fb0d6963f7d28e17f72";
    EXPECT_TRUE(worker_.VerifyItemFile(item_, path));
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(writer, "x", 1, &written, nullptr));
    EXPECT_FALSE(worker_.VerifyItemFile(item_, path));
    CloseHandle(writer);
    EXPECT_EQ("Hash comparison failure on file " + testenv::Narrow(path), OnlyWarning());
}

TEST_F(ItemVerification, VersionIsComparedAsStored)
{
    item_.Version = testenv::Widen(NORLO_VERSION_TEXT);
    EXPECT_TRUE(worker_.VerifyItemFile(item_, testenv::SetupExecutable()));
    EXPECT_TRUE(log_.Lines().empty());

    const std::wstring comma = IntegrityProgram(L"IntegrityCommaVersion.exe");
    item_.Version = L"5.0.1038.10828";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, comma));
    EXPECT_EQ("Version comparison failure on file " + testenv::Narrow(comma), OnlyWarning());

    log_.Clear();
    item_.Version = L"5, 0, 1038, 10828";
    EXPECT_TRUE(worker_.VerifyItemFile(item_, comma));
    EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(ItemVerification, FileWithoutVersionResourceFailsRetrieval)
{
    const std::wstring plain = IntegrityProgram(L"IntegrityPlain.exe");
    item_.Version = L"1.0.0.0";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, plain));
    EXPECT_EQ("Version retrieval failure on file " + testenv::Narrow(plain), OnlyWarning());
}

TEST_F(ItemVerification, SignaturesAreDemandedOnlyBySignedEngines)
{
    const std::wstring unsigned_ = SignedCopy(L"unsigned.exe");
    EXPECT_TRUE(worker_.VerifyItemFile(item_, unsigned_));

    worker_.SetSelfSigned(true);
    EXPECT_FALSE(worker_.VerifyItemFile(item_, unsigned_));
    EXPECT_EQ("Signature check failure on file " + testenv::Narrow(unsigned_), OnlyWarning());

    log_.Clear();
    EXPECT_FALSE(worker_.VerifyItemFile(item_, SignedCopy(L"tampered.exe")));
    EXPECT_EQ("Signature check failure on file " + testenv::Narrow(SignedCopy(L"tampered.exe")), OnlyWarning());

    log_.Clear();
    EXPECT_TRUE(worker_.VerifyItemFile(item_, SignedCopy(L"signed.exe")));
    EXPECT_TRUE(log_.Lines().empty());
}

TEST_F(ItemVerification, AnOpenFileIsCheckedThroughItsHandle)
{
    // Digests and signature come from the open file, not from whatever its name leads to.
    const std::wstring signed_ = SignedCopy(L"signed.exe");
    HANDLE held = CreateFileW(signed_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    const std::wstring decoy = Write(L"decoy.exe", "abc");
    worker_.SetSelfSigned(true);
    item_.Hash = osh::CalculateFileHash(signed_);
    EXPECT_TRUE(ziz::VerifyOpenItemFile(worker_, item_, decoy, held));
    EXPECT_TRUE(log_.Lines().empty());
    EXPECT_FALSE(worker_.VerifyItemFile(item_, decoy)) << "by name the decoy is checked";
    CloseHandle(held);

    log_.Clear();
    item_.Hash.clear();
    const std::wstring tampered = SignedCopy(L"tampered.exe");
    held = CreateFileW(tampered.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(ziz::VerifyOpenItemFile(worker_, item_, tampered, held));
    CloseHandle(held);
    EXPECT_EQ("Signature check failure on file " + testenv::Narrow(tampered), OnlyWarning());

    log_.Clear();
    EXPECT_FALSE(ziz::VerifyOpenItemFile(worker_, item_, decoy, INVALID_HANDLE_VALUE));
    EXPECT_EQ("Unable to open file " + testenv::Narrow(decoy), OnlyWarning());
}

TEST_F(ItemVerification, OnlyTheFirstFailureIsReported)
{
    // The unsigned copy has no version resource either; a wrong hash is reported alone.
    const std::wstring unsigned_ = SignedCopy(L"unsigned.exe");
    worker_.SetSelfSigned(true);
    item_.Hash = L"00000000000000000000000000000000";
    item_.Version = L"1.0.0.0";
    EXPECT_FALSE(worker_.VerifyItemFile(item_, unsigned_));
    EXPECT_EQ("Hash comparison failure on file " + testenv::Narrow(unsigned_), OnlyWarning());

    log_.Clear();
    item_.Hash = osh::CalculateFileHash(unsigned_);
    EXPECT_FALSE(worker_.VerifyItemFile(item_, unsigned_));
    EXPECT_EQ("Signature check failure on file " + testenv::Narrow(unsigned_), OnlyWarning());

    log_.Clear();
    worker_.SetSelfSigned(false);
    EXPECT_FALSE(worker_.VerifyItemFile(item_, unsigned_));
    EXPECT_EQ("Version retrieval failure on file " + testenv::Narrow(unsigned_), OnlyWarning());
}

TEST(SelfSignature, FollowsTheCheckAndKeepsTheChecksOnWhenItCannotBeCompleted)
{
    testsupport::LogCapture log;
    EXPECT_FALSE(ziz::EvaluateSelfSignature()) << "this test program is not signed";
    EXPECT_TRUE(ziz::SelfSignatureStatus([] { return osh::CheckFileSignature(SignedCopy(L"signed.exe")); }));
    EXPECT_TRUE(log.Lines().empty());

    EXPECT_TRUE(ziz::SelfSignatureStatus([]() -> bool { throw std::runtime_error("GetModuleFileName: failed"); }))
        << "a self-check that cannot be completed keeps the signature checks on";
    const auto lines = log.Lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("Could not determine self-signature status; signature checks stay on", lines[0].text);
    EXPECT_EQ("GetModuleFileName: failed", lines[1].text);
    EXPECT_EQ(Poco::Message::PRIO_WARNING, lines[0].priority);
    EXPECT_EQ(Poco::Message::PRIO_WARNING, lines[1].priority);
}

}  // namespace
