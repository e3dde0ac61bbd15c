#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace lumivance {

// Two lowercase hexadecimal digits per byte, in byte order, the high four bits first; no separators.
std::string LowercaseHex(std::span<const std::uint8_t> bytes);

}  // namespace lumivance
