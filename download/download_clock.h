#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "app/install_state.h"
#include "worker/release_asset.h"

namespace lumivance {

// A millisecond tick count that never goes backwards.
using TickSource = std::function<std::uint64_t()>;

// DownloadInstaller with the clock of its ten-minute body limit passed in. The program calls
// DownloadInstaller, which passes GetTickCount64; tests pass their own ticks to reach the limit at once.
void DownloadInstallerWithClock(const ReleaseAsset& asset, const std::filesystem::path& filePath,
                                InstallState& state, const std::wstring& host, std::uint16_t port, bool secure,
                                const TickSource& now);

}  // namespace lumivance
