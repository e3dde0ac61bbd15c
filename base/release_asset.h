#pragma once

#include <cstdint>

namespace lumivance {

// One compiled-in installer per architecture. Rows are constants with static storage; consumers hold a
// reference and never copy them.
struct ReleaseAsset {
    const wchar_t* downloadPath;  // absolute path on the download host, e.g. L"/downloads/win/x64/..."
    const char* sha256Hex;        // 64 lowercase hexadecimal digits, compared byte for byte
    std::uint64_t sizeBytes;      // exact size of the installer file
};

}  // namespace lumivance
