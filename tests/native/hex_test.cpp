#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "verify/hex.h"

namespace lumivance {
namespace {

TEST(LowercaseHex, HighNibbleFirstInByteOrderWithLowercaseLetters)
{
    const std::vector<std::uint8_t> bytes{0x00, 0x01, 0x0F, 0x10, 0x7F, 0x80, 0xA5, 0x5A, 0xFE, 0xFF};
    EXPECT_EQ(LowercaseHex(bytes), "00010f107f80a55afeff");
    EXPECT_EQ(LowercaseHex({}), "");
}

TEST(LowercaseHex, SpellsTheSha256OfAbcAsPublished)
{
    // FIPS 180-2, appendix B.1: SHA-256("abc").
    const std::array<std::uint8_t, 32> digest{0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                              0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                              0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
    EXPECT_EQ(LowercaseHex(digest), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace lumivance
