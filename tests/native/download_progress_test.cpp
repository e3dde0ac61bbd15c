#include <gtest/gtest.h>

#include "download/download_progress.h"

namespace lumivance {
namespace {

TEST(DownloadProgressPercent, ReachesHundredOnlyWithTheLastByte)
{
    EXPECT_EQ(DownloadProgressPercent(0, 1), 0);
    EXPECT_EQ(DownloadProgressPercent(1, 1), 100);
    EXPECT_EQ(DownloadProgressPercent(999, 1000), 99) << "truncated, not rounded up";
    EXPECT_EQ(DownloadProgressPercent(189'999'999, 190'000'000), 99);
    EXPECT_EQ(DownloadProgressPercent(190'000'000, 190'000'000), 100);
}

TEST(DownloadProgressPercent, IsTakenIn64BitsForRealInstallerSizes)
{
    // received * 100 overflows 32 bits from 43 MB on: the product must be taken in 64 bits.
    EXPECT_EQ(DownloadProgressPercent(65'536, 190'000'000), 0);
    EXPECT_EQ(DownloadProgressPercent(95'000'000, 190'000'000), 50);
    constexpr std::uint64_t huge = 40'000'000'000;
    EXPECT_EQ(DownloadProgressPercent(huge / 4, huge), 25);
    EXPECT_EQ(DownloadProgressPercent(huge - 1, huge), 99);
}

TEST(DownloadProgressPercent, NeverFallsAsBytesArrive)
{
    constexpr std::uint64_t size = 1'234'567;
    std::int32_t previous = 0;
    for (std::uint64_t received = 0; received <= size; received += 4'099) {
        const std::int32_t now = DownloadProgressPercent(received, size);
        ASSERT_GE(now, previous) << received;
        ASSERT_LT(now, 100) << received;
        previous = now;
    }
}

}  // namespace
}  // namespace lumivance
