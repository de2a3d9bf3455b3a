// Web transfers that must survive real networks: the decision table, and transfers from the
// harness's HTTP server with its faults (silent, trickling, cut, busy, redirecting servers).
#include "engine/Downloader.h"
#include "osh/Download.h"
#include "osh/DownloadFailure.h"
#include "osh/FileHash.h"
#include "osh/HttpTransfer.h"
#include "osh/ScopedHandle.h"
#include "osh/TransferPolicy.h"
#include "support/EndToEnd.h"
#include "support/LogCapture.h"
#include "support/StateFiles.h"
#include "support/TestEnvironment.h"
#include "support/TestWorker.h"
#include "support/TlsServer.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <vector>

namespace {

using Poco::Message;
using testenv::Narrow;
using testenv::Widen;

// ---------------------------------------------------------------------------------------
// Decisions

TEST(TransferPolicy, StatusesSucceedRedirectRetryOrFail)
{
    using osh::StatusVerdict;
    const std::pair<DWORD, StatusVerdict> table[] = {
        {200, StatusVerdict::Success},  {206, StatusVerdict::Success},  {301, StatusVerdict::Redirect},
        {302, StatusVerdict::Redirect}, {303, StatusVerdict::Redirect}, {307, StatusVerdict::Redirect},
        {308, StatusVerdict::Redirect}, {500, StatusVerdict::Retry},    {503, StatusVerdict::Retry},
        {599, StatusVerdict::Retry},    {204, StatusVerdict::Fail},     {304, StatusVerdict::Fail},
        {400, StatusVerdict::Fail},     {404, StatusVerdict::Fail},     {416, StatusVerdict::Fail},
        {429, StatusVerdict::Fail},     {600, StatusVerdict::Fail},     {0, StatusVerdict::Fail},
    };
    for (const auto& row : table) EXPECT_EQ(row.second, osh::JudgeStatus(row.first)) << row.first;
}

TEST(TransferPolicy, OnlyDroppedConnectionsAndTimeOutsAreRetried)
{
    for (DWORD error : {ERROR_INTERNET_TIMEOUT, ERROR_INTERNET_CONNECTION_RESET, ERROR_INTERNET_CONNECTION_ABORTED})
        EXPECT_TRUE(osh::IsRetryableError(error)) << error;
    for (DWORD error : {ERROR_INTERNET_CANNOT_CONNECT, ERROR_INTERNET_NAME_NOT_RESOLVED, ERROR_INTERNET_INVALID_CA,
                        ERROR_INTERNET_SEC_CERT_DATE_INVALID, ERROR_INTERNET_OPERATION_CANCELLED, 0})
        EXPECT_FALSE(osh::IsRetryableError(error)) << error;
}

TEST(TransferPolicy, PausesGrowAndRetryAfterIsHonouredUpToAMinute)
{
    EXPECT_EQ(1000u, osh::RetryPauseMilliseconds(1, 0));
    EXPECT_EQ(2000u, osh::RetryPauseMilliseconds(2, 0));
    EXPECT_EQ(4000u, osh::RetryPauseMilliseconds(3, 0));
    EXPECT_EQ(5000u, osh::RetryPauseMilliseconds(1, 5));
    EXPECT_EQ(60000u, osh::RetryPauseMilliseconds(2, 3600));

    EXPECT_EQ(7u, osh::ParseRetryAfter(L"7"));
    EXPECT_EQ(12u, osh::ParseRetryAfter(L" 12 "));
    EXPECT_EQ(60u, osh::ParseRetryAfter(L"86400"));
    EXPECT_EQ(60u, osh::ParseRetryAfter(L"99999999999999999999999"));
    for (const wchar_t* unusable : {L"", L"Wed, 21 Oct 2026 07:28:00 GMT", L"-5", L"3s", L" "})
        EXPECT_EQ(0u, osh::ParseRetryAfter(unusable)) << Narrow(unusable);
}

TEST(TransferPolicy, RedirectionsStayOnTheWebNeverDropTlsAndEnd)
{
    const std::set<std::wstring> none;
    EXPECT_EQ("", osh::RedirectRefusal(L"http://a/x", L"https://b/y", 0, {L"http://a/x"}));
    EXPECT_EQ("", osh::RedirectRefusal(L"https://a/x", L"HTTPS://b/y", 4, none));
    EXPECT_EQ("", osh::RedirectRefusal(L"http://a/x", L"http://a/y", 0, none));
    EXPECT_EQ("a redirection from https to http was refused", osh::RedirectRefusal(L"https://a/x", L"http://a/x", 0, none));
    EXPECT_EQ("a redirection from https to http was refused", osh::RedirectRefusal(L"HTTPS://a/x", L"http://b/", 0, none));
    EXPECT_EQ("a redirection to an address that is not http or https",
              osh::RedirectRefusal(L"http://a/x", L"file:///c:/x", 0, none));
    EXPECT_EQ("a redirection loop", osh::RedirectRefusal(L"http://a/y", L"http://a/x", 1, {L"http://a/x", L"http://a/y"}));
    EXPECT_EQ("too many redirections", osh::RedirectRefusal(L"http://a/5", L"http://a/6", 5, none));
}

TEST(TransferPolicy, ResumeAppendsOnlyTheRangeThatWasAskedFor)
{
    using osh::ResumeVerdict;
    EXPECT_EQ(ResumeVerdict::StartOver, osh::JudgeResume(0, 200, 0));
    EXPECT_EQ(ResumeVerdict::StartOver, osh::JudgeResume(100, 200, 0));  // ranges ignored: whole file
    EXPECT_EQ(ResumeVerdict::Append, osh::JudgeResume(100, 206, 100));
    EXPECT_EQ(ResumeVerdict::AskWhole, osh::JudgeResume(100, 206, 50));

    std::uint64_t start = 99;
    EXPECT_TRUE(osh::ParseContentRangeStart(L"bytes 100-199/200", start));
    EXPECT_EQ(100u, start);
    EXPECT_TRUE(osh::ParseContentRangeStart(L"Bytes 0-9/*", start));
    EXPECT_EQ(0u, start);
    for (const wchar_t* bad : {L"", L"bytes */200", L"items 1-2/3", L"bytes 12"})
        EXPECT_FALSE(osh::ParseContentRangeStart(bad, start)) << Narrow(bad);
}

TEST(TransferPolicy, ReadsGrowOnlyWhileQuickAndNeverBelowWhatHasArrived)
{
    struct Row {
        DWORD previous, milliseconds, available, next;
    };
    const DWORD max = osh::kMaxReadBytes, quick = osh::kQuickReadMilliseconds;
    const Row table[] = {
        {0, 0, 8192, 8192},                  // the first read takes what has arrived
        {8192, 0, 8192, 16384},              // quick: doubles
        {8192, quick, 100, 16384},           // still quick at the bound
        {8192, quick + 1, 100, 100},         // slow: back to what has arrived
        {8192, 5000, 0, 1},                  // never a read of nothing
        {max / 2, 3, 8192, max},             // up to the largest read
        {max, 3, 8192, max},                 // and not beyond it
        {0xFFFFFFFFu, 3, 0, max},            // no overflow when doubling
        {16, 3, 0xFFFFFFFFu, max},           // more has arrived than one read takes
        {256, 400, 256, 256},                // a trickle is read as it comes
    };
    for (const Row& row : table)
        EXPECT_EQ(row.next, osh::NextReadSize(row.previous, row.milliseconds, row.available))
            << row.previous << " " << row.milliseconds << " " << row.available;
}

TEST(TransferFailure, WinInetErrorsAreNamedWithTheirCode)
{
    EXPECT_EQ("the connection was refused (no server answers at that address) (error 12029)",
              osh::InternetFailureReason(ERROR_INTERNET_CANNOT_CONNECT));
    EXPECT_EQ("the server name was not resolved (error 12007)", osh::InternetFailureReason(ERROR_INTERNET_NAME_NOT_RESOLVED));
    EXPECT_EQ("time-out (the server sent nothing in time) (error 12002)", osh::InternetFailureReason(ERROR_INTERNET_TIMEOUT));
    const std::string refused = "the server's certificate was refused (expired or not yet valid, issued for another "
                                "host name, or by an authority this computer does not trust) (error ";
    for (DWORD error : {ERROR_INTERNET_INVALID_CA, ERROR_INTERNET_SEC_CERT_CN_INVALID, ERROR_INTERNET_SEC_CERT_DATE_INVALID})
        EXPECT_EQ(refused + std::to_string(error) + ")", osh::InternetFailureReason(error));
    EXPECT_EQ("the system reported an error (error 12999)", osh::InternetFailureReason(12999));
    EXPECT_EQ("Download of \"http://h/x\" failed: HTTP 404", osh::TransferFailureLine(L"http://h/x", "HTTP 404"));
}

// ---------------------------------------------------------------------------------------
// Transfers from the harness's server, with the waits shortened

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

constexpr DWORD kShortLimit = 1500;

class Transfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        port_ = testenv::Variable("NORLO_HTTP_PORT");
        ASSERT_FALSE(port_.empty()) << "the harness's HTTP server is not running";
        name_ = "xfer-" + std::to_string(GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
        for (int i = 0; i < 3000; ++i) content_ += static_cast<char>('a' + (i * 13) % 26);
        served_ = testenv::WindowsPathOf(testenv::Variable("NORLO_HTTP_ROOT") + "/" + name_);
        testsupport::WriteTextFile(served_, content_);
        scratch_ = testenv::MakeScratchDirectory(L"transfer");
        osh::transfertest::SetNoProgressLimit(kShortLimit);
        osh::transfertest::SetPauseDivisor(20);
    }
    void TearDown() override
    {
        osh::transfertest::SetNoProgressLimit(0);
        osh::transfertest::SetPauseDivisor(0);
        osh::SetTransferCancelEvent(nullptr);
        DeleteFileW(served_.c_str());
        testenv::RemoveTree(scratch_);
    }

    std::wstring Url(const std::string& fault) const
    {
        return Widen("http://127.0.0.1:" + port_ + (fault.empty() ? "" : "/" + fault) + "/" + name_);
    }
    std::wstring Target() const { return scratch_ + L"\\" + Widen(name_); }
    // The server's log lines for this test's file, in order.
    std::vector<std::string> Requests() const
    {
        std::vector<std::string> mine;
        for (const std::string& line : endtoend::ServerRequests())
            if (line.find("/" + name_) != std::string::npos) mine.push_back(line);
        return mine;
    }
    InstallItem Item(const std::string& fault) const
    {
        InstallItem item;
        item.Filename = Widen(name_);
        item.Url = Url(fault);
        item.Hash = osh::CalculateFileHash(served_);
        item.LocalPath = Target();
        return item;
    }
    size_t Warnings(const testsupport::LogCapture& log) const
    {
        size_t count = 0;
        for (const auto& line : log.Lines()) count += line.priority == Message::PRIO_WARNING;
        return count;
    }

    std::string port_, name_, content_;
    std::wstring served_, scratch_;
};

TEST_F(Transfer, SilentServerEndsTheTransferAfterTheLimitWithoutRetry)
{
    testsupport::LogCapture log;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(osh::DownloadToFile(Target(), Url("silent")));
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, kShortLimit);
    EXPECT_LT(took, kShortLimit + 2000);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Download of \"" + Narrow(Url("silent")) +
                                                      "\" failed: time-out (no data from the server for 1 s)"));
    EXPECT_EQ(0u, Warnings(log)) << "a silent server is not asked again";
    EXPECT_FALSE(Exists(Target()));
    EXPECT_FALSE(Exists(Target() + L".partial"));
}

TEST_F(Transfer, TricklingServerIsNeverCutOff)
{
    testsupport::LogCapture log;
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(osh::DownloadToFile(Target(), Url("trickle")));
    EXPECT_GT(GetTickCount64() - start, kShortLimit) << "the whole transfer outlasted the no-progress limit";
    EXPECT_EQ(content_, testsupport::ReadTextFile(Target()));
    EXPECT_EQ(0u, Warnings(log));
}

TEST_F(Transfer, ErrorStatusesFailWithTheStatusAndOnlyServerErrorsAreRetried)
{
    {
        testsupport::LogCapture log;
        EXPECT_FALSE(osh::DownloadToFile(Target(), Url("404")));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Download of \"" + Narrow(Url("404")) + "\" failed: HTTP 404"));
        EXPECT_EQ(1u, Requests().size()) << "a 404 is asked once";
        EXPECT_FALSE(Exists(Target())) << "the error page is not the file";
    }
    {
        testsupport::LogCapture log;
        EXPECT_FALSE(osh::DownloadToFile(Target(), Url("500")));
        const std::string failed = "Download of \"" + Narrow(Url("500")) + "\" failed: HTTP 500";
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, failed));
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, failed + "; retry 1 of 3 in 1 s"));
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, failed + "; retry 2 of 3 in 2 s"));
        EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, failed + "; retry 3 of 3 in 4 s"));
        EXPECT_EQ(1u + 4u, Requests().size()) << "the first try and three retries";
        EXPECT_FALSE(Exists(Target()));
    }
}

TEST_F(Transfer, BusyServerIsAskedAgainAfterItsRetryAfter)
{
    testsupport::LogCapture log;
    ASSERT_TRUE(osh::DownloadToFile(Target(), Url("busy")));
    EXPECT_EQ(content_, testsupport::ReadTextFile(Target()));
    const std::string failed = "Download of \"" + Narrow(Url("busy")) + "\" failed: HTTP 503";
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, failed + "; retry 1 of 3 in 1 s"));
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, failed + "; retry 2 of 3 in 1 s")) << "Retry-After, not 2 s";
    EXPECT_EQ(3u, Requests().size());
}

TEST_F(Transfer, RedirectionsAreFollowedButLoopsAndHttpsToHttpAreRefused)
{
    {
        testsupport::LogCapture log;
        ASSERT_TRUE(osh::DownloadToFile(Target(), Url("redirect")));
        EXPECT_EQ(content_, testsupport::ReadTextFile(Target()));
        EXPECT_TRUE(log.Contains(Message::PRIO_INFORMATION,
                                 "Redirected from \"" + Narrow(Url("redirect")) + "\" to \"" + Narrow(Url("")) + "\""));
    }
    DeleteFileW(Target().c_str());
    {
        testsupport::LogCapture log;
        EXPECT_FALSE(osh::DownloadToFile(Target(), Url("loop")));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Download of \"" + Narrow(Url("loop")) +
                                                          "\" failed: a redirection loop (to \"" + Narrow(Url("loop")) +
                                                          "\")"));
        EXPECT_FALSE(Exists(Target()));
    }
    {
        testsupport::TrustTestAuthority();
        const std::wstring secure =
            testsupport::HttpsServerAddress(testsupport::TlsCertificate::Valid) + L"/tohttp/" + Widen(name_);
        testsupport::LogCapture log;
        EXPECT_FALSE(osh::DownloadToFile(Target(), secure));
        EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, "Download of \"" + Narrow(secure) +
                                                          "\" failed: a redirection from https to http was refused "
                                                          "(to \"http://127.0.0.1:1/" + name_ + "\")"));
        EXPECT_FALSE(Exists(Target()));
    }
}

// Closing the window signals the engine's shutdown event; a transfer in progress (here a
// trickling one that would take seconds more) stops within a second.
TEST_F(Transfer, CancellingTheRunStopsATransferWithinASecond)
{
    osh::transfertest::SetNoProgressLimit(0);  // the product's full minute
    osh::ScopedHandle cancel(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    osh::SetTransferCancelEvent(cancel.get());
    struct Canceller {
        static DWORD WINAPI Run(LPVOID event)
        {
            Sleep(500);
            SetEvent(static_cast<HANDLE>(event));
            return 0;
        }
    };
    osh::ScopedHandle thread(CreateThread(nullptr, 0, &Canceller::Run, cancel.get(), 0, nullptr));
    ASSERT_TRUE(thread.valid());
    testsupport::LogCapture log;
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(osh::DownloadToFile(Target(), Url("trickle")));
    EXPECT_LT(GetTickCount64() - start, 500u + 1000u);
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR,
                             "Download of \"" + Narrow(Url("trickle")) + "\" failed: the transfer was cancelled"));
    EXPECT_FALSE(Exists(Target()));
}

// A server that accepts the request and never answers holds WinINet in its wait for the
// answer; closing the window must still end the transfer within about a second.
TEST_F(Transfer, CancellingTheRunStopsAWaitForASilentServer)
{
    osh::transfertest::SetNoProgressLimit(0);  // the product's full minute
    struct Canceller {
        osh::ScopedHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        std::atomic<ULONGLONG> setAt{0};
        static DWORD WINAPI Run(LPVOID self)
        {
            auto* canceller = static_cast<Canceller*>(self);
            Sleep(1500);
            canceller->setAt.store(GetTickCount64());
            SetEvent(canceller->event.get());
            return 0;
        }
    } canceller;
    osh::SetTransferCancelEvent(canceller.event.get());
    testsupport::LogCapture log;
    osh::ScopedHandle thread(CreateThread(nullptr, 0, &Canceller::Run, &canceller, 0, nullptr));
    ASSERT_TRUE(thread.valid());
    EXPECT_FALSE(osh::DownloadToFile(Target(), Url("silent")));
    const ULONGLONG returned = GetTickCount64();
    WaitForSingleObject(thread.get(), INFINITE);
    ASSERT_NE(0u, canceller.setAt.load()) << "the transfer ended before the run was cancelled";
    EXPECT_LT(returned - canceller.setAt.load(), 1500u) << "the transfer outlived the cancel by more than a second";
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR,
                             "Download of \"" + Narrow(Url("silent")) + "\" failed: the transfer was cancelled"));
    EXPECT_EQ(0u, Warnings(log)) << "a cancelled transfer is not retried";
    EXPECT_FALSE(Exists(Target()));
    EXPECT_EQ(1u, Requests().size()) << "the silent server was asked once";
}

// ---------------------------------------------------------------------------------------
// Components continue where a transfer broke off

TEST_F(Transfer, CutComponentIsContinuedWithARangeRequest)
{
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    const InstallItem item = Item("cuthalf");
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_EQ(content_, testsupport::ReadTextFile(item.LocalPath));
    EXPECT_FALSE(Exists(item.LocalPath + L".partial"));
    const std::vector<std::string> asked = Requests();
    ASSERT_EQ(2u, asked.size());
    EXPECT_EQ("/cuthalf/" + name_, asked[0]);
    EXPECT_EQ("/cuthalf/" + name_ + " Range: bytes=" + std::to_string(content_.size() / 2) + "-", asked[1]);
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Download of \"" + Narrow(item.Url) +
                                                        "\" failed: the connection was dropped after 1500 of 3000 "
                                                        "bytes; retry 1 of 3 in 1 s"));
}

TEST_F(Transfer, ServerIgnoringRangesGivesAWholeFile)
{
    testsupport::TestWorker engine;
    const InstallItem item = Item("norange");
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_EQ(content_, testsupport::ReadTextFile(item.LocalPath)) << "the 200 answer was not appended to the half";
    const std::vector<std::string> asked = Requests();
    ASSERT_EQ(2u, asked.size());
    EXPECT_NE(std::string::npos, asked[1].find(" Range: bytes=1500-"));
}

// Bytes from an earlier run are kept; when the continued file fails its check it is fetched
// whole once; a second failure fails the component and never takes the final name.
TEST_F(Transfer, ResumedFileThatFailsItsCheckIsFetchedWholeOnce)
{
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    InstallItem item = Item("");
    testsupport::WriteTextFile(item.LocalPath + L".partial", std::string(1000, 'X'));
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_EQ(content_, testsupport::ReadTextFile(item.LocalPath));
    std::vector<std::string> asked = Requests();
    ASSERT_EQ(2u, asked.size());
    EXPECT_EQ("/" + name_ + " Range: bytes=1000-", asked[0]);
    EXPECT_EQ("/" + name_, asked[1]);
    EXPECT_TRUE(log.Contains(Message::PRIO_WARNING, "Resumed file \"" + Narrow(item.LocalPath) +
                                                        ".partial\" failed its check; downloading it whole again"));
    // The whole copy passed: the result file must not name the resumed copy's failure.
    ASSERT_EQ(1u, engine.Report().Components().size());
    EXPECT_EQ(ziz::ComponentAction::Downloaded, engine.Report().Components()[0].action);
    EXPECT_EQ("", engine.Report().Components()[0].failedCheck);

    DeleteFileW(item.LocalPath.c_str());
    item.Hash = L"00000000000000000000000000000000";
    testsupport::WriteTextFile(item.LocalPath + L".partial", std::string(1000, 'X'));
    EXPECT_THROW(ziz::DownloadItem(engine, item, 0, 1, false), std::runtime_error);
    EXPECT_EQ(2u + 2u, Requests().size()) << "one whole transfer more, not a loop";
    EXPECT_FALSE(Exists(item.LocalPath));
    EXPECT_EQ(content_, testsupport::ReadTextFile(item.LocalPath + L".partial")) << "the rejected file stays beside the final name";
}

// Larger than the read buffer and the progress step: many reads, appended in order.
TEST_F(Transfer, LargeComponentArrivesWholeWithProgressOnTheWay)
{
    std::string large;
    for (int i = 0; i < 3 * 1024 * 1024; ++i) large += static_cast<char>((i * 31 + i / 4096) % 251);
    testsupport::WriteTextFile(served_, large);
    testsupport::TestWorker engine;
    const InstallItem item = Item("");
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, false));
    EXPECT_TRUE(large == testsupport::ReadTextFile(item.LocalPath));
}

TEST_F(Transfer, CleanRunDoesNotContinueAnEarlierPartialFile)
{
    testsupport::TestWorker engine;
    const InstallItem item = Item("");
    testsupport::WriteTextFile(item.LocalPath + L".partial", std::string(1000, 'X'));
    ASSERT_NO_THROW(ziz::DownloadItem(engine, item, 0, 1, true));
    EXPECT_EQ(content_, testsupport::ReadTextFile(item.LocalPath));
    EXPECT_EQ(std::vector<std::string>{"/" + name_}, Requests()) << "one whole transfer, no range";
}

TEST_F(Transfer, FailedComponentTransferNamesTheAddressAndTheStatus)
{
    testsupport::LogCapture log;
    testsupport::TestWorker engine;
    const InstallItem item = Item("404");
    const std::string line = "Download of \"" + Narrow(item.Url) + "\" failed: HTTP 404";
    try {
        ziz::DownloadItem(engine, item, 0, 1, false);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(line, std::string(e.what()));
    }
    EXPECT_TRUE(log.Contains(Message::PRIO_ERROR, line));
    EXPECT_FALSE(Exists(item.LocalPath));
    ASSERT_EQ(1u, engine.Report().Components().size());
    EXPECT_EQ("download", engine.Report().Components()[0].failedCheck);
}

}  // namespace
