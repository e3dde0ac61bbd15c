// The worker and the UI share one InstallState without locks: the four atomics while the worker runs,
// errorText and exitCode only after the join. Run under ThreadSanitizer, these attempts show that the
// workflow's writes and a dialog-like reader never race, and that the reader sees what the dialog shows.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/cancelled.h"
#include "tests/native/fake_system.h"
#include "worker/install_workflow.h"

namespace lumivance {
namespace {

using testing::FakeSystem;

// A download that publishes progress chunk by chunk and honours cancel between chunks, as the real one does.
// When waitForCancelAt is reached it waits (up to ten seconds) for the UI thread to press Cancel, so the
// cancel attempts really cross threads instead of racing a download that is already over.
void ChunkedDownload(InstallState& state, std::int32_t waitForCancelAt)
{
    constexpr std::uint64_t kSize = 4096, kChunk = 128;
    for (std::uint64_t received = kChunk; received <= kSize; received += kChunk) {
        const auto percent = static_cast<std::int32_t>(received * 100 / kSize);
        state.progressPercent.exchange(percent);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (percent >= waitForCancelAt && !state.cancelRequested.load() &&
               std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::yield();
        }
        if (state.cancelRequested.load()) {
            throw Cancelled{};
        }
    }
}

// Waits, up to `timeout`, for the flag to be set; the fake installer's way of running until the UI thread
// has looked.
void WaitUntilSet(const std::atomic<bool>& flag, std::chrono::milliseconds timeout)
{
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (!flag.load() && std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::yield();
    }
}

struct Seen {
    std::int32_t lastProgress = 0;
    bool progressWentBack = false;
    bool sawVerifyingOrLater = false;
};

// Polls the record the way the dialog's timer does, optionally pressing Cancel once progress passes
// cancelAt, until the worker says it has finished. Sets sawPastDownloading once it has seen the phase move
// on from Downloading.
Seen PollLikeTheDialog(InstallState& state, std::int32_t cancelAt, std::atomic<bool>& sawPastDownloading)
{
    Seen seen;
    while (!state.finished.load()) {
        const std::int32_t progress = state.progressPercent.load();
        seen.progressWentBack |= progress < seen.lastProgress;
        seen.lastProgress = progress;
        const InstallPhase phase = state.phase.load();
        seen.sawVerifyingOrLater |= phase != InstallPhase::Downloading;
        if (seen.sawVerifyingOrLater) {
            sawPastDownloading.exchange(true);
        }
        if (progress >= cancelAt && phase != InstallPhase::Installing) {
            state.cancelRequested.exchange(true);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    return seen;
}

TEST(ThreadHandshake, AttemptsThatCancelOrSucceedShareTheRecordWithoutARace)
{
    InstallState state;  // one record reused by every attempt, as the entry does
    for (int attempt = 0; attempt < 60; ++attempt) {
        SCOPED_TRACE(attempt);
        const bool cancel = attempt % 2 == 0;
        FakeSystem fake;
        const std::int32_t cancelAt = cancel ? 40 : 101;
        fake.onDownload = [cancelAt](InstallState& s) { ChunkedDownload(s, cancelAt); };
        fake.installerExitCode = attempt % 3 == 0 ? 3 : 0;
        // The installer runs until the UI thread has seen the phase move on (at most two seconds), so that a
        // phase published late, or not at all, shows whenever the poller happens to look.
        std::atomic<bool> sawPastDownloading{false};
        bool sawItWhileTheInstallerRan = false;  // written by the worker, read after the join
        fake.onLaunch = [&] {
            WaitUntilSet(sawPastDownloading, std::chrono::seconds(2));
            sawItWhileTheInstallerRan = sawPastDownloading.load();
        };

        ResetForAttempt(state);
        std::thread worker([&] { RunInstallWith(state, fake); });
        const Seen seen = PollLikeTheDialog(state, cancelAt, sawPastDownloading);
        worker.join();

        EXPECT_FALSE(seen.progressWentBack);
        if (cancel) {
            EXPECT_EQ(state.exitCode, 1223u);
            EXPECT_EQ(state.errorText, L"");
            EXPECT_LT(state.progressPercent.load(), 100);
            EXPECT_FALSE(seen.sawVerifyingOrLater) << "a cancel during the download moved the phase on";
        } else {
            EXPECT_EQ(state.exitCode, fake.installerExitCode);
            EXPECT_EQ(state.errorText.empty(), fake.installerExitCode == 0);
            EXPECT_EQ(state.progressPercent.load(), 100);
            EXPECT_TRUE(sawItWhileTheInstallerRan)
                << "while the installer ran, the UI thread never saw the phase move on from Downloading, so the "
                   "dialog would still offer Cancel and say it downloads";
        }
        EXPECT_EQ(fake.removed.size(), 1u);
    }
}

}  // namespace
}  // namespace lumivance
