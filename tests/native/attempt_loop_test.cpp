// The attempt loop with scripted workers, dialogs and boxes: Retry and the reset between attempts, the order
// of join and box, and what happens when the dialog or the worker thread cannot be had (the Wine tests of
// the shell cover the rest through the real dialog). Under ThreadSanitizer this also shows that the loop
// and its workers share the record without a race.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/attempt_loop.h"

namespace lumivance {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// What a worker found when it started.
struct Start {
    bool cancelRequested;
    bool finished;
    std::int32_t progressPercent;
    InstallPhase phase;
    std::wstring errorText;
    std::uint32_t exitCode;
};

struct Script {
    // One body per attempt (the last one serves every later attempt); each ends by setting finished.
    std::vector<std::function<void(InstallState&)>> workers;
    std::vector<bool> threadFails;   // per attempt: std::thread could not be made
    bool threadOutOfMemory = false;  // std::thread could not allocate its state, every attempt
    std::int32_t dialogResult = 0;   // what ShowProgressDialog returns
    std::vector<bool> answers;       // per box: true for Retry

    std::vector<Start> starts;
    std::vector<std::wstring> boxes;
    std::atomic<bool> workerExited{false};
    bool boxBeforeJoin = false;
    int attempts = 0;

    std::thread StartWorker(InstallState* state)
    {
        const int attempt = attempts++;
        if (threadOutOfMemory) {
            throw std::bad_alloc();
        }
        if (attempt < static_cast<int>(threadFails.size()) && threadFails[attempt]) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        auto body = workers[std::min<std::size_t>(starts.size(), workers.size() - 1)];
        starts.push_back({state->cancelRequested.load(), state->finished.load(), state->progressPercent.load(),
                          state->phase.load(), state->errorText, state->exitCode});
        workerExited.store(false);
        return std::thread([this, state, body] {
            body(*state);
            std::this_thread::sleep_for(20ms);  // after finished: only the join waits for this
            workerExited.store(true);
        });
    }
    std::int32_t ShowProgress(InstallState& state)
    {
        if (dialogResult >= 0) {
            while (!state.finished.load()) {  // the dialog closes on finished
                std::this_thread::sleep_for(1ms);
            }
        }
        return dialogResult;
    }
    bool AskRetry(const std::wstring& text)
    {
        boxBeforeJoin |= !workerExited.load();
        boxes.push_back(text);
        const std::size_t index = boxes.size() - 1;
        return index < answers.size() && answers[index];
    }
};

static_assert(AttemptSystem<Script>);

void Succeed(InstallState& state)
{
    state.progressPercent.exchange(100);
    state.phase.exchange(InstallPhase::Installing);
    state.exitCode = 0;
    state.finished.exchange(true);
}

std::function<void(InstallState&)> Fail(std::wstring text, std::uint32_t exitCode = 1)
{
    return [text, exitCode](InstallState& state) {
        state.progressPercent.exchange(100);
        state.phase.exchange(InstallPhase::Installing);
        state.cancelRequested.exchange(true);
        state.exitCode = exitCode;
        state.errorText = text;
        state.finished.exchange(true);
    };
}

// A worker that runs until it sees a cancel, as a download does, and then unwinds as the workflow does.
void RunUntilCancelled(InstallState& state)
{
    const auto giveUp = std::chrono::steady_clock::now() + 10s;
    while (!state.cancelRequested.load() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(1ms);
    }
    state.exitCode = state.cancelRequested.load() ? 1223 : 99;
    state.finished.exchange(true);
}

TEST(AttemptLoop, RetryStartsAFreshAttemptFromTheResetRecord)
{
    Script script;
    script.workers = {Fail(L"First.", 1602), Fail(L"Second."), Succeed};
    script.answers = {true, true};
    InstallState state;
    EXPECT_EQ(RunAttemptsWith(state, script), 0u);
    EXPECT_THAT(script.boxes, ElementsAre(L"First.", L"Second."));
    ASSERT_EQ(script.starts.size(), 3u);
    for (const Start& start : script.starts) {
        EXPECT_FALSE(start.cancelRequested);
        EXPECT_FALSE(start.finished);
        EXPECT_EQ(start.progressPercent, 0);
        EXPECT_EQ(start.phase, InstallPhase::Downloading);
        EXPECT_EQ(start.errorText, L"");
        EXPECT_EQ(start.exitCode, 1u);
    }
    EXPECT_FALSE(script.boxBeforeJoin);
}

TEST(AttemptLoop, ADialogThatCannotBeShownCancelsTheAttempt)
{
    Script script;
    script.workers = {RunUntilCancelled};
    script.dialogResult = static_cast<std::int32_t>(0x80004005);  // E_FAIL
    InstallState state;
    EXPECT_EQ(RunAttemptsWith(state, script), 1223u) << "the worker must be told to stop, or it runs on alone";
    EXPECT_THAT(script.boxes, IsEmpty());
}

TEST(AttemptLoop, ADialogThatReturnsWithoutFailingCancelsNothing)
{
    // S_OK or S_FALSE are no failure: the loop waits for the worker to end on its own.
    Script script;
    script.workers = {[](InstallState& state) {
        std::this_thread::sleep_for(30ms);
        state.exitCode = state.cancelRequested.load() ? 1223 : 0;
        state.finished.exchange(true);
    }};
    script.dialogResult = 1;
    InstallState state;
    EXPECT_EQ(RunAttemptsWith(state, script), 0u);
}

TEST(AttemptLoop, AWorkerThreadThatCannotBeMadeIsAFailureTheUserMayRetry)
{
    {
        Script script;
        script.workers = {Succeed};
        script.threadFails = {true};
        InstallState state;
        EXPECT_EQ(RunAttemptsWith(state, script), 1u);
        EXPECT_THAT(script.boxes, ElementsAre(L"Could not prepare installation."));
        EXPECT_THAT(script.starts, IsEmpty());
    }
    {
        Script script;
        script.workers = {Succeed};
        script.threadFails = {true, true};
        script.answers = {true, true};
        InstallState state;
        EXPECT_EQ(RunAttemptsWith(state, script), 0u);
        EXPECT_EQ(script.boxes.size(), 2u);
        EXPECT_EQ(script.starts.size(), 1u);
    }
    {
        // std::thread allocates its state too: running out of memory there is the same failure.
        Script script;
        script.threadOutOfMemory = true;
        InstallState state;
        EXPECT_EQ(RunAttemptsWith(state, script), 1u);
        EXPECT_THAT(script.boxes, ElementsAre(L"Could not prepare installation."));
    }
}

}  // namespace
}  // namespace lumivance
