// What the user and the clock can do to a running download, and what it sends: cancel before, during and
// around the body against the real WinHTTP and the test host; the ten-minute limit through the download's
// clock call (the only thing not taken from the real system); the request as the server received it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <memory>
#include <thread>

#include "tests/windows/download_test_support.h"
#include "tests/windows/test_support.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::DownloadOutcome;
using testing::kBodySize;
using Kind = DownloadOutcome::Kind;

using DownloadControl = testing::StagingFileTest;

TEST_F(DownloadControl, CancelSetBeforeTheBodyStopsBeforeTheFirstRead)
{
    InstallState state;
    state.cancelRequested.store(true);
    const DownloadOutcome outcome =
        testing::RunDownload({L"/exact/200000", kBodySize}, file_, state, testing::TrustedPort());
    EXPECT_EQ(outcome.kind, Kind::Cancelled) << outcome.message;
    ASSERT_TRUE(std::filesystem::exists(file_)) << "the file is opened before the flag is read";
    EXPECT_EQ(std::filesystem::file_size(file_), 0u);
    EXPECT_EQ(state.progressPercent.load(), 0);
    EXPECT_EQ(testing::ReadRequestLog().size(), 1u) << "set-up does not look at the flag";
}

TEST_F(DownloadControl, CancelDuringSetUpLetsAFailingStepReportItsOwnFailure)
{
    InstallState state;
    state.cancelRequested.store(true);
    const DownloadOutcome outcome =
        testing::RunDownload({L"/notfound/200000", kBodySize}, file_, state, testing::TrustedPort());
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_EQ(outcome.message, "The installer is temporarily unavailable. Please try again shortly.");
    EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(DownloadControl, CancelDuringTheBodyFinishesTheChunkInHandThenStops)
{
    // 40 pieces of 65,536 bytes, 100 ms apart: about four seconds unless the cancel is seen.
    constexpr std::uint64_t kSlowSize = 40 * 65'536;
    InstallState state;
    DownloadOutcome outcome{Kind::Failed, "not run"};
    std::thread worker([&] {
        outcome = testing::RunDownload({L"/drip/" + std::to_wstring(kSlowSize), kSlowSize}, file_, state,
                                       testing::TrustedPort());
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (state.progressPercent.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const std::int32_t progressAtCancel = state.progressPercent.load();
    state.cancelRequested.store(true);
    worker.join();

    ASSERT_GT(progressAtCancel, 0) << "the body never started";
    EXPECT_EQ(outcome.kind, Kind::Cancelled) << outcome.message;
    const std::uint64_t written = std::filesystem::file_size(file_);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, kSlowSize) << "the cancel was not seen";
    EXPECT_TRUE(testing::HoldsGeneratedBytes(file_, written));
    EXPECT_EQ(state.progressPercent.load(), static_cast<std::int32_t>(written * 100 / kSlowSize))
        << "the last chunk read is written and counted before the cancel is honoured";
    EXPECT_GE(state.progressPercent.load(), progressAtCancel);
}

// The start tick is the clock's first reading; every later reading is that tick until the bar shows at least
// `jumpAtPercent`, and that tick + `jumpBy` from then on.
testing::TestClock ClockJumpingAt(const InstallState& state, std::int32_t jumpAtPercent, std::uint64_t jumpBy)
{
    constexpr std::uint64_t start = 5'000'000;
    auto readings = std::make_shared<int>(0);
    return {.reading = [&state, jumpAtPercent, jumpBy, readings] {
        const bool first = (*readings)++ == 0;
        return !first && state.progressPercent.load() >= jumpAtPercent ? start + jumpBy : start;
    }};
}

TEST_F(DownloadControl, APassThatBeginsAtExactlyTenMinutesStillReads)
{
    InstallState state;
    testing::TestClock clock = ClockJumpingAt(state, 0, 600'000);
    const DownloadOutcome outcome =
        testing::RunDownload({L"/exact/200000", kBodySize}, file_, state, testing::TrustedPort(), &clock);
    EXPECT_EQ(outcome.kind, Kind::Returned) << outcome.message;
    EXPECT_TRUE(testing::HoldsGeneratedBytes(file_, kBodySize));
}

TEST_F(DownloadControl, MoreThanTenMinutesEndTheBodyEvenWithLittleLeft)
{
    InstallState state;
    testing::TestClock clock = ClockJumpingAt(state, 98, 600'001);
    const DownloadOutcome outcome =
        testing::RunDownload({L"/exact/200000", kBodySize}, file_, state, testing::TrustedPort(), &clock);
    EXPECT_EQ(outcome.kind, Kind::Failed);
    EXPECT_EQ(outcome.message, "The download took too long. Please try again on a faster connection.");
    const std::uint64_t written = std::filesystem::file_size(file_);
    EXPECT_GE(written, kBodySize * 98 / 100);
    EXPECT_LT(written, kBodySize);
    EXPECT_EQ(state.progressPercent.load(), static_cast<std::int32_t>(written * 100 / kBodySize));

    // Already late at the first pass: nothing is read.
    std::filesystem::remove(file_);  // the download makes its file new
    InstallState lateState;
    testing::TestClock lateClock = ClockJumpingAt(lateState, 0, 600'001);
    const DownloadOutcome late =
        testing::RunDownload({L"/exact/200000", kBodySize}, file_, lateState, testing::TrustedPort(), &lateClock);
    EXPECT_EQ(late.message, "The download took too long. Please try again on a faster connection.");
    EXPECT_EQ(std::filesystem::file_size(file_), 0u);
}

std::string Lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

TEST_F(DownloadControl, TheRequestIsOneBareGetWithTheProductsUserAgent)
{
    InstallState state;
    const DownloadOutcome outcome = testing::RunDownload({L"/exact/1000", 1000}, file_, state, testing::TrustedPort());
    ASSERT_EQ(outcome.kind, Kind::Returned) << outcome.message;

    const auto requests = testing::ReadRequestLog();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "GET /exact/1000 HTTP/1.1");
    std::vector<std::string> userAgents;
    for (const auto& [name, value] : requests[0].headers) {
        const std::string lower = Lowercase(name);
        EXPECT_NE(lower, "range") << "a download starts from the first byte";
        EXPECT_NE(lower, "accept-encoding") << "the body must arrive as the file itself";
        EXPECT_NE(lower, "cookie");
        EXPECT_NE(lower, "authorization");
        // Beyond the user agent, only what HTTP/1.1 itself needs.
        EXPECT_TRUE(lower == "user-agent" || lower == "host" || lower == "connection") << name << ": " << value;
        if (lower == "user-agent") {
            userAgents.push_back(value);
        }
        if (lower == "host") {
            EXPECT_EQ(value, "localhost:" + std::to_string(testing::TrustedPort()));
        }
    }
    EXPECT_EQ(userAgents, std::vector<std::string>{"Lumivance Installer/1"});
}

}  // namespace
}  // namespace lumivance
