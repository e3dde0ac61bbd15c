#pragma once

#include <cstdint>
#include <optional>

#include "base/release_asset.h"

namespace lumivance {

// IMAGE_FILE_MACHINE_* and PROCESSOR_ARCHITECTURE_* values, spelled out so the choice builds without Windows.
inline constexpr std::uint16_t kMachineArm64 = 0xAA64;
inline constexpr std::uint16_t kMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kProcessorArchitectureArm64 = 12;
inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;

// What the system said about its processor.
struct ArchitectureObservations {
    // wProcessorArchitecture from GetNativeSystemInfo.
    std::uint16_t processorArchitecture = 0;
    // The native machine from IsWow64Process2; nothing when the function is missing or failed.
    std::optional<std::uint16_t> nativeMachine;
};

// The release row for these observations. The native machine wins when it names x64 or ARM64 (an x64
// process emulated on ARM64 sees wProcessorArchitecture 9); otherwise wProcessorArchitecture decides.
// Throws std::runtime_error with the user's sentence when neither names a supported architecture.
const ReleaseAsset& ChooseRelease(const ArchitectureObservations& observed);

// The release row for this machine's native architecture, observed with GetNativeSystemInfo and
// IsWow64Process2 (Windows); throws std::runtime_error with the user's sentence on a machine that is neither
// x64 nor ARM64.
const ReleaseAsset& SelectReleaseAsset();

}  // namespace lumivance
