#include "verify/hex.h"

namespace lumivance {

namespace {
constexpr char kDigits[] = "0123456789abcdef";
}

std::string LowercaseHex(std::span<const std::uint8_t> bytes)
{
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

}  // namespace lumivance
