// The state machine driver: the walk from state to state, where it starts, where it stops,
// and what the engine posts to the progress window.
#include "support/LogCapture.h"
#include "support/TestEnvironment.h"
#include "support/TestWorker.h"

#include "engine/EngineMessages.h"
#include "engine/OSWorker.h"
#include "engine/RunLoop.h"
#include "engine/WorkerState.h"
#include "engine/states/StateChoosingBootstrapper.h"
#include "engine/states/StateCreateCLID.h"
#include "engine/states/StateCreatingCompleteSequence.h"
#include "engine/states/StateDownloadingBootstrapper.h"
#include "engine/states/StateFailed.h"
#include "engine/states/StateFinishingInstall.h"
#include "engine/states/StateFinishingUninstall.h"
#include "engine/states/StateInitializing.h"
#include "engine/states/StateLoadingSequence.h"
#include "engine/states/StateMigrateFiles.h"
#include "engine/states/StatePerformingInstalls.h"
#include "engine/states/StatePerformingLocalCopies.h"
#include "engine/states/StatePerformingSoftwareStops.h"
#include "engine/states/StatePerformingUACCheck.h"
#include "engine/states/StatePerformingUninstalls.h"
#include "engine/states/StateProcessingDownloads.h"
#include "engine/states/StatePurgingFiles.h"
#include "engine/states/StateRemovingBetaInstall.h"
#include "engine/states/StateRemovingInnoInstall.h"
#include "engine/states/StateSeekingSelfUpdate.h"
#include "engine/states/StateUpdatingAppliance.h"
#include "osh/ScopedHandle.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using testsupport::LogCapture;
using testsupport::TestWorker;

const wchar_t* const kProgram = L"C:\\Media\\Setup.exe";

// A state that records its visit and hands over to the next one it was given.
class RecordingState : public ziz::WorkerState {
public:
    RecordingState(const wchar_t* name, std::vector<std::wstring>& visits, ziz::WorkerState* next)
        : WorkerState(name), visits_(visits), next_(next)
    {
    }
    ziz::WorkerState* Exec(ziz::Worker&) override
    {
        visits_.push_back(Name);
        return next_;
    }

private:
    std::vector<std::wstring>& visits_;
    ziz::WorkerState* next_;
};

// A state that asks the run to stop, as the window does when its message loop ends.
class SignallingState : public RecordingState {
public:
    SignallingState(std::vector<std::wstring>& visits, ziz::WorkerState* next, HANDLE event)
        : RecordingState(L"Signalling", visits, next), event_(event)
    {
    }
    ziz::WorkerState* Exec(ziz::Worker& worker) override
    {
        SetEvent(event_);
        return RecordingState::Exec(worker);
    }

private:
    HANDLE event_;
};

class ThrowingState : public ziz::WorkerState {
public:
    ThrowingState() : WorkerState(L"Throwing") {}
    ziz::WorkerState* Exec(ziz::Worker&) override { throw std::runtime_error("escaped"); }
};

osh::ScopedHandle NewShutdownEvent()
{
    osh::ScopedHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    EXPECT_TRUE(event.valid());
    return event;
}

// A message-only window on this thread that receives what the engine posts.
class MessageSink {
public:
    MessageSink()
        : window_(CreateWindowExW(0, L"STATIC", L"engine sink", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr))
    {
    }
    ~MessageSink()
    {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    HWND window() const { return window_; }

    std::vector<MSG> Take()
    {
        std::vector<MSG> messages;
        MSG message;
        while (PeekMessageW(&message, window_, WM_ENGINE_STATUS, WM_ENGINE_DONE, PM_REMOVE))
            messages.push_back(message);
        return messages;
    }

private:
    HWND window_;
};

TEST(RunLoop, WalksStatesInOrderAndStopsAtNull)
{
    std::vector<std::wstring> visits;
    RecordingState third(L"Third", visits, nullptr);
    RecordingState second(L"Second", visits, &third);
    RecordingState first(L"First", visits, &second);
    TestWorker worker;
    osh::ScopedHandle shutdown = NewShutdownEvent();
    ziz::RunStatesFrom(&first, worker, shutdown.get());
    EXPECT_EQ((std::vector<std::wstring>{L"First", L"Second", L"Third"}), visits);
}

TEST(RunLoop, SameStateMayRunMoreThanOnce)
{
    std::vector<std::wstring> visits;
    RecordingState last(L"Last", visits, nullptr);
    RecordingState loop(L"Loop", visits, &last);
    RecordingState first(L"First", visits, &loop);
    TestWorker worker;
    osh::ScopedHandle shutdown = NewShutdownEvent();
    ziz::RunStatesFrom(&first, worker, shutdown.get());
    ziz::RunStatesFrom(&loop, worker, shutdown.get());
    EXPECT_EQ((std::vector<std::wstring>{L"First", L"Loop", L"Last", L"Loop", L"Last"}), visits);
}

TEST(RunLoop, StopsBetweenStatesOnceShutdownIsSignalled)
{
    std::vector<std::wstring> visits;
    osh::ScopedHandle shutdown = NewShutdownEvent();
    RecordingState never(L"Never", visits, nullptr);
    SignallingState signalling(visits, &never, shutdown.get());
    RecordingState first(L"First", visits, &signalling);
    TestWorker worker;
    ziz::RunStatesFrom(&first, worker, shutdown.get());
    EXPECT_EQ((std::vector<std::wstring>{L"First", L"Signalling"}), visits);

    // Signalled before the first state: nothing runs at all.
    visits.clear();
    ziz::RunStatesFrom(&first, worker, shutdown.get());
    EXPECT_TRUE(visits.empty());
}

TEST(RunLoop, ExceptionFromExecEndsTheWalkAndPassesThrough)
{
    std::vector<std::wstring> visits;
    ThrowingState throwing;
    RecordingState first(L"First", visits, &throwing);
    TestWorker worker;
    osh::ScopedHandle shutdown = NewShutdownEvent();
    EXPECT_THROW(ziz::RunStatesFrom(&first, worker, shutdown.get()), std::runtime_error);
    EXPECT_EQ((std::vector<std::wstring>{L"First"}), visits);
}

TEST(RunLoop, StageNotBuiltYetEndsInFailed)
{
    LogCapture log;
    TestWorker worker;
    worker.ParseCommandLine({kProgram});
    worker.Notify(ziz::StatusChecking);
    osh::ScopedHandle shutdown = NewShutdownEvent();
    ziz::RunStateMachine(worker, shutdown.get());
    EXPECT_EQ(ziz::StatusFailed, worker.GetLastStatus());
    // The first stage that needs a location this engine does not know fails the walk.
    const int stage = log.IndexOf("Unable to determine directory location for Setup files");
    const int failed = log.IndexOf("Software process complete, failure detected.");
    ASSERT_GE(stage, 0);
    ASSERT_GE(failed, 0);
    EXPECT_LT(stage, failed);
    EXPECT_TRUE(log.Contains(Poco::Message::PRIO_ERROR, "Unable to determine directory location for Setup files"));
}

TEST(RunLoop, EveryStateHasItsName)
{
    const std::pair<ziz::WorkerState*, const wchar_t*> states[] = {
        {ziz::StateInitializing::Instance(), L"Initializing"},
        {ziz::StateSeekingSelfUpdate::Instance(), L"SeekingSelfUpdate"},
        {ziz::StateDownloadingBootstrapper::Instance(), L"DownloadingBootstrapper"},
        {ziz::StateChoosingBootstrapper::Instance(), L"ChoosingBootstrapper"},
        {ziz::StateLoadingSequence::Instance(), L"LoadingSequence"},
        {ziz::StateProcessingDownloads::Instance(), L"ProcessingDownloads"},
        {ziz::StatePerformingUACCheck::Instance(), L"PerformingUACCheck"},
        {ziz::StatePerformingInstalls::Instance(), L"PerformingInstalls"},
        {ziz::StatePerformingUninstalls::Instance(), L"PerformingUninstalls"},
        {ziz::StatePerformingSoftwareStops::Instance(), L"PerformingSoftwareStops"},
        {ziz::StatePurgingFiles::Instance(), L"PurgingFiles"},
        {ziz::StateFinishingInstall::Instance(), L"FinishingInstall"},
        {ziz::StateFinishingUninstall::Instance(), L"FinishingUninstall"},
        {ziz::StateRemovingInnoInstall::Instance(), L"RemovingInnoInstall"},
        {ziz::StateRemovingBetaInstall::Instance(), L"RemovingBetaInstall"},
        {ziz::StateCreatingCompleteSequence::Instance(), L"CreatingCompleteSequence"},
        {ziz::StateUpdatingAppliance::Instance(), L"UpdatingAppliance"},
        {ziz::StatePerformingLocalCopies::Instance(), L"PerformingLocalCopies"},
        {ziz::StateMigrateFiles::Instance(), L"MigrateFiles"},
        {ziz::StateCreateCLID::Instance(), L"CreateCLID"},
        {ziz::StateFailed::Instance(), L"Failed"},
    };
    for (const auto& state : states) {
        EXPECT_EQ(state.second, state.first->Name);
    }
}

ziz::WorkerState* InitialStateFor(std::vector<std::wstring> options)
{
    options.insert(options.begin(), kProgram);
    TestWorker worker;
    worker.ParseCommandLine(options);
    return ziz::GetInitialState(worker);
}

TEST(InitialState, ChosenByMigrateAndClidValues)
{
    EXPECT_EQ(ziz::StateInitializing::Instance(), InitialStateFor({}));
    EXPECT_EQ(ziz::StateInitializing::Instance(), InitialStateFor({L"/update", L"/nocheck"}));
    EXPECT_EQ(ziz::StateMigrateFiles::Instance(), InitialStateFor({L"--migrate=D:\\Old Data"}));
    EXPECT_EQ(ziz::StateCreateCLID::Instance(), InitialStateFor({L"/clid=7F3A"}));
    EXPECT_EQ(ziz::StateMigrateFiles::Instance(), InitialStateFor({L"/clid=7F3A", L"/migrate=D:\\Old"}));
    EXPECT_EQ(ziz::StateMigrateFiles::Instance(), InitialStateFor({L"/MIGRATE=D:\\Old", L"--CLID=7F3A"}));
}

TEST(InitialState, EmptyValuesCountAsAbsent)
{
    EXPECT_EQ(ziz::StateInitializing::Instance(), InitialStateFor({L"/migrate="}));
    EXPECT_EQ(ziz::StateInitializing::Instance(), InitialStateFor({L"/migrate"}));
    EXPECT_EQ(ziz::StateInitializing::Instance(), InitialStateFor({L"--clid="}));
    EXPECT_EQ(ziz::StateInitializing::Instance(), InitialStateFor({L"--clid", L"/migrate="}));
    EXPECT_EQ(ziz::StateCreateCLID::Instance(), InitialStateFor({L"/migrate=", L"/clid=42"}));
    EXPECT_EQ(ziz::StateMigrateFiles::Instance(), InitialStateFor({L"/migrate=D:\\Old", L"/clid="}));
}

TEST(FailedState, LogsAndPostsTheFailureOutcome)
{
    LogCapture log;
    MessageSink sink;
    ASSERT_NE(nullptr, sink.window());
    ziz::OSWorker worker;
    worker.SetWindow(sink.window());
    worker.ParseCommandLine({kProgram, L"/uninstall"});

    EXPECT_EQ(nullptr, ziz::StateFailed::Instance()->RunState(worker));

    EXPECT_TRUE(log.Contains(Poco::Message::PRIO_ERROR, "Software process complete, failure detected."));
    EXPECT_EQ(ziz::StatusFailed, worker.GetLastStatus());
    const std::vector<MSG> messages = sink.Take();
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(static_cast<UINT>(WM_ENGINE_DONE), messages[0].message);
    EXPECT_EQ(static_cast<WPARAM>(ziz::UNINSTALL), messages[0].wParam);  // outcome 0 in the high byte
    EXPECT_EQ(414, messages[0].lParam);
}

TEST(FailedState, WholeRunOfAnUnbuiltStagePostsFailureToTheWindow)
{
    LogCapture log;
    MessageSink sink;
    ziz::OSWorker worker;
    worker.SetWindow(sink.window());
    worker.ParseCommandLine({kProgram, L"/download"});
    // The run fails because nothing can be fetched; intact copies an earlier suite's install
    // left in the setup files would let it succeed without a transfer.
    testenv::RemoveTree(L"C:\\ProgramData\\Norlo 5\\SetupFiles");
    osh::ScopedHandle shutdown = NewShutdownEvent();
    ziz::RunStateMachine(worker, shutdown.get());
    // Progress (checking, downloading) may come first; the outcome is the last message.
    const std::vector<MSG> messages = sink.Take();
    ASSERT_GE(messages.size(), 1u);
    for (size_t i = 0; i + 1 < messages.size(); ++i) EXPECT_EQ(static_cast<UINT>(WM_ENGINE_STATUS), messages[i].message);
    EXPECT_EQ(static_cast<UINT>(WM_ENGINE_DONE), messages.back().message);
    EXPECT_EQ(static_cast<WPARAM>(ziz::DOWNLOAD), messages.back().wParam);
    EXPECT_EQ(415, messages.back().lParam);
}

// Expected message for a notification, written out from the tables the window relies on.
struct Expected {
    bool posted;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

Expected ExpectedFor(int status, int a, int b, int mode, bool restart)
{
    if (status >= 2 && status <= 7)
        return {true, 0x0464, static_cast<WPARAM>((b & 0xFF) * 256 + (a & 0xFF)), 400 + status};
    // Waiting for another setup or for a backup job: a text of its own, no counts.
    if (status == 13 || status == 14) return {true, 0x0464, 0, status == 13 ? 429 : 430};
    if (status < 8 || status > 10 || mode < 0 || mode > 5) return {false, 0, 0, 0};
    static const int ids[6][3] = {{408, 408, 413}, {422, 422, 423}, {409, 411, 415},
                                  {410, 411, 416}, {412, 412, 414}, {422, 422, 423}};
    const int outcome = status == 8 ? (restart ? 2 : 1) : status == 9 ? 2 : 0;
    return {true, 0x0465, static_cast<WPARAM>(outcome * 256 + mode), ids[mode][status - 8]};
}

TEST(Notify, EveryStatusInEveryMode)
{
    MessageSink sink;
    ASSERT_NE(nullptr, sink.window());
    const int counts[][2] = {{0, 1}, {0, 0}, {4, 9}, {300, 513}};  // the last pair keeps its low bytes
    for (int mode = 0; mode <= 6; ++mode) {
        for (bool restart : {false, true}) {
            for (int status : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 13, 14, 15}) {
                for (const auto& count : counts) {
                    ziz::OSWorker worker;
                    worker.SetWindow(sink.window());
                    worker.SetMode(static_cast<ziz::InstallMode>(mode));
                    worker.SetRestartRequired(restart);
                    worker.Notify(static_cast<ziz::EngineStatus>(status), count[0], count[1]);
                    EXPECT_EQ(status, static_cast<int>(worker.GetLastStatus()));
                    const Expected expected = ExpectedFor(status, count[0], count[1], mode, restart);
                    const std::vector<MSG> messages = sink.Take();
                    const std::string where = "mode " + std::to_string(mode) + " status " + std::to_string(status) +
                                              " a " + std::to_string(count[0]) + " b " + std::to_string(count[1]) +
                                              (restart ? " restart" : "");
                    if (!expected.posted) {
                        EXPECT_TRUE(messages.empty()) << where;
                        continue;
                    }
                    ASSERT_EQ(1u, messages.size()) << where;
                    EXPECT_EQ(expected.message, messages[0].message) << where;
                    EXPECT_EQ(expected.wParam, messages[0].wParam) << where;
                    EXPECT_EQ(expected.lParam, messages[0].lParam) << where;
                }
            }
        }
    }
}

TEST(Notify, SpotChecksOfTheWindowContract)
{
    MessageSink sink;
    ziz::OSWorker worker;
    worker.SetWindow(sink.window());
    worker.ParseCommandLine({kProgram, L"/update"});  // restart requested by the switch
    worker.Notify(ziz::StatusDownloading, 0, 1);
    worker.Notify(ziz::StatusSucceeded, 0, 0);
    worker.SetRestartRequired(false);
    worker.Notify(ziz::StatusSucceeded, 0, 0);
    const std::vector<MSG> messages = sink.Take();
    ASSERT_EQ(3u, messages.size());
    EXPECT_EQ(static_cast<UINT>(WM_USER + 100), messages[0].message);
    EXPECT_EQ(0x0100u, messages[0].wParam);  // "1 of 1" on screen
    EXPECT_EQ(403, messages[0].lParam);
    EXPECT_EQ(static_cast<UINT>(WM_USER + 101), messages[1].message);
    EXPECT_EQ(0x0201u, messages[1].wParam);
    EXPECT_EQ(422, messages[1].lParam);
    EXPECT_EQ(0x0101u, messages[2].wParam);
}

TEST(Notify, WithoutWindowNothingReachesTheThreadQueue)
{
    MSG stale;
    while (PeekMessageW(&stale, nullptr, WM_ENGINE_STATUS, WM_ENGINE_DONE, PM_REMOVE)) {
    }
    ziz::OSWorker worker;
    worker.SetMode(ziz::INSTALL);
    worker.Notify(ziz::StatusFailed, 0, 0);
    worker.Notify(ziz::StatusChecking, 0, 0);
    EXPECT_EQ(ziz::StatusChecking, worker.GetLastStatus());
    MSG message;
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_ENGINE_STATUS, WM_ENGINE_DONE, PM_REMOVE));
}

TEST(Notify, BaseEngineOnlyRecordsTheStatus)
{
    TestWorker worker;
    EXPECT_EQ(ziz::StatusFailed, worker.GetLastStatus());
    worker.Notify(ziz::StatusInstalling, 2, 5);
    EXPECT_EQ(ziz::StatusInstalling, worker.GetLastStatus());
}

TEST(OSWorkerStubs, UnresolvedLocationsAnswerFalseAndLog)
{
    LogCapture log;
    ziz::OSWorker worker;
    std::wstring path = L"stale";
    // The engine thread's first question has a real answer now.
    EXPECT_TRUE(worker.GetPath(path, ziz::evSetup));
    EXPECT_EQ(L"C:\\ProgramData\\Norlo 5\\SetupFiles", path);
    EXPECT_FALSE(log.Contains(Poco::Message::PRIO_WARNING, "Unable to detect path to evSetup"));
    EXPECT_FALSE(worker.GetPath(path, static_cast<ziz::PathKind>(7)));
    EXPECT_EQ(L"", path);
    EXPECT_TRUE(log.Contains(Poco::Message::PRIO_WARNING, "Unable to detect path to evInvalid"));
    SYSTEM_INFO info = {};
    GetNativeSystemInfo(&info);
    EXPECT_EQ(info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64, worker.Is64BitOs());
}

}  // namespace
