#pragma once

#include <cstdint>

namespace lumivance {

// The bar's value once `received` of `sizeBytes` bytes are on disk (received <= sizeBytes, sizeBytes > 0).
// Integer arithmetic that truncates: 100 means the last byte has arrived, never "almost all of them".
constexpr std::int32_t DownloadProgressPercent(std::uint64_t received, std::uint64_t sizeBytes)
{
    return static_cast<std::int32_t>(received * 100 / sizeBytes);
}

}  // namespace lumivance
