#include <gtest/gtest.h>

#include <string>

#include "worker/release_table.h"

namespace lumivance {
namespace {

// Linked against pins in which every value differs (tests/native/CMakeLists.txt): each row must carry its
// own architecture's path, digest and size, at the project's version.
TEST(ReleaseTable, EachRowHoldsItsOwnArchitecturesPins)
{
    EXPECT_STREQ(kX64Release.downloadPath, L"/downloads/win/x64/LumivanceSetup-0.3.20.exe");
    EXPECT_EQ(std::string(kX64Release.sha256Hex), std::string(64, 'a'));
    EXPECT_EQ(kX64Release.sizeBytes, 1111u);
    EXPECT_STREQ(kArm64Release.downloadPath, L"/downloads/win/arm64/LumivanceSetup-0.3.20.exe");
    EXPECT_EQ(std::string(kArm64Release.sha256Hex), std::string(64, 'b'));
    EXPECT_EQ(kArm64Release.sizeBytes, 2222u);
    EXPECT_STREQ(kDownloadHost, L"table.example");
    EXPECT_EQ(kDownloadPort, 8443u);
}

}  // namespace
}  // namespace lumivance
