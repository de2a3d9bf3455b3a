// Plain downloads from the harness's HTTP server on 127.0.0.1.
#include "osh/Download.h"
#include "osh/DownloadFailure.h"
#include "osh/HttpTransfer.h"
#include "support/LogCapture.h"
#include "support/StateFiles.h"
#include "support/TestEnvironment.h"

#include <urlmon.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

using testenv::Narrow;

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(Narrow(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}


class Download : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = testenv::Variable("NORLO_HTTP_PORT");
        ASSERT_FALSE(port_.empty()) << "the harness's HTTP server is not running";
        root_ = testenv::Variable("NORLO_HTTP_ROOT");
        name_ = "osh-download-" + std::to_string(GetCurrentProcessId()) + ".bin";
        for (int i = 0; i < 4000; ++i) content_ += static_cast<char>('a' + (i * 7) % 26);
        std::ofstream out(Narrow(testenv::WindowsPathOf(root_ + "/" + name_)), std::ios::binary);
        out << content_;
        scratch_ = testenv::MakeScratchDirectory(L"osh-download");
    }
    void TearDown() override
    {
        DeleteFileW(testenv::WindowsPathOf(root_ + "/" + name_).c_str());
        testenv::RemoveTree(scratch_);
    }

    std::wstring Url(const std::string& prefix) const
    {
        return testenv::Widen("http://127.0.0.1:" + port_ + prefix + "/" + name_);
    }
    std::wstring Target() const { return scratch_ + L"\\target.bin"; }

    std::string port_, root_, name_, content_;
    std::wstring scratch_;
};

TEST_F(Download, FetchesTheWholeFile)
{
    ASSERT_TRUE(osh::DownloadToFile(Target(), Url("")));
    EXPECT_EQ(content_, ReadFile(Target()));
}

TEST_F(Download, RefusedConnectionIsAFailure)
{
    const std::wstring url = testenv::Widen("http://127.0.0.1:" + std::to_string(testsupport::ClosedPort()) + "/" + name_);
    testsupport::LogCapture log;
    EXPECT_FALSE(osh::DownloadToFile(Target(), url));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Target().c_str()));
    // The line names the address and the reason; a refused connection is not retried.
    const auto lines = log.Lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(Poco::Message::PRIO_ERROR, lines[0].priority);
    EXPECT_EQ("Download of \"" + Narrow(url) + "\" failed: the connection was refused (no server answers at that "
              "address) (error 12029)",
              lines[0].text);
}

TEST_F(Download, OnlyWebAddressesAreFetched)
{
    ASSERT_TRUE(osh::DownloadToFile(Target(), Url("")));
    const std::wstring local = Target() + L".copy";
    // The system would copy a local file or share as a "download"; the update document
    // and the bootstrapper must come from a web server.
    for (const std::wstring& url : {L"file:///" + Target(), Target(), std::wstring(L"\\\\127.0.0.1\\c$\\x.xml")}) {
        EXPECT_FALSE(osh::DownloadToFile(local, url)) << testenv::Narrow(url);
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(local.c_str()));
    }
}

// What a reader of the log is told for each answer of the system's downloader.
TEST(DownloadFailure, ReasonsNameTheCauseAndUnknownCodesStayGeneric)
{
    struct Case {
        HRESULT result;
        const char* reason;
    } const cases[] = {
        {INET_E_INVALID_CERTIFICATE, "the server's certificate was refused (expired or not yet valid, issued for another "
                                     "host name, or by an authority this computer does not trust)"},
        {INET_E_SECURITY_PROBLEM, "the secure connection was refused (a certificate or protocol problem)"},
        {INET_E_CANNOT_CONNECT, "no connection to the server"},
        {INET_E_RESOURCE_NOT_FOUND, "the server or the file was not found"},
        {INET_E_DOWNLOAD_FAILURE, "the transfer failed (no connection, or the server broke it off)"},
        {INET_E_CONNECTION_TIMEOUT, "the connection timed out"},
        {E_ABORT, "the transfer was cancelled"},
        {S_FALSE, "the transfer did not complete"},
        {E_FAIL, "the system reported an error"},
        {static_cast<HRESULT>(0x800C0FFF), "the system reported an error"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.reason, osh::DownloadFailureReason(c.result)) << std::hex << c.result;
}

TEST(DownloadFailure, LineNamesTheAddressTheReasonAndTheCode)
{
    EXPECT_EQ("Download of \"https://localhost:1/update.xml\" failed: the server's certificate was refused (expired or "
              "not yet valid, issued for another host name, or by an authority this computer does not trust) "
              "(0x800C0019)",
              osh::DownloadFailureLine(L"https://localhost:1/update.xml", INET_E_INVALID_CERTIFICATE));
    EXPECT_EQ("Download of \"\" failed: the transfer did not complete (0x00000001)", osh::DownloadFailureLine(L"", S_FALSE));
}

// Error pages and cut bodies are not files: the transfer reads the status and the length,
// and the final name never holds what arrived. A cut body is retried (pauses shortened here).
TEST_F(Download, ErrorPagesAndCutBodiesFailAndLeaveNoFile)
{
    osh::transfertest::SetPauseDivisor(50);
    struct Restore {
        ~Restore() { osh::transfertest::SetPauseDivisor(0); }
    } restore;
    const std::pair<const char*, std::string> cases[] = {
        {"/404", "HTTP 404"},
        {"/500", "HTTP 500"},
        {"/cut", "the connection was dropped after 2000 of 4000 bytes"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        testsupport::LogCapture log;
        EXPECT_FALSE(osh::DownloadToFile(Target(), Url(c.first)));
        EXPECT_TRUE(log.Contains(Poco::Message::PRIO_ERROR,
                                 "Download of \"" + Narrow(Url(c.first)) + "\" failed: " + c.second));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(Target().c_str()));
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Target() + L".partial").c_str()));
    }
}

}  // namespace
