#include <gtest/gtest.h>

#include "worker/release_table.h"

namespace lumivance {
namespace {

// The native builds pin placeholder digests and keep the default sizes.
TEST(ReleaseTable, RowsHoldTheWholePathsAndTheBuildsPinnedValues)
{
    EXPECT_STREQ(kX64Release.downloadPath, L"/downloads/win/x64/LumivanceSetup-0.3.20.exe");
    EXPECT_STREQ(kArm64Release.downloadPath, L"/downloads/win/arm64/LumivanceSetup-0.3.20.exe");
    EXPECT_EQ(kX64Release.sizeBytes, 194814760u);
    EXPECT_EQ(kArm64Release.sizeBytes, 190592808u);
    EXPECT_STREQ(kX64Release.sha256Hex, "0000000000000000000000000000000000000000000000000000000000000000");
    EXPECT_STREQ(kArm64Release.sha256Hex, "0000000000000000000000000000000000000000000000000000000000000000");
}

}  // namespace
}  // namespace lumivance
