#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "base/install_state.h"
#include "base/release_asset.h"

namespace lumivance {

// What the download asks of the system besides WinHTTP and the file: the clock of its ten-minute body limit,
// a millisecond tick count that never goes backwards. Tests pass their own ticks to reach the limit at once.
struct DownloadCalls {
    std::function<std::uint64_t()> tickCount;
};

// GetTickCount64 (Windows).
DownloadCalls RealDownloadCalls();

// Fetches asset.downloadPath from host:port into filePath and returns only when the file holds exactly
// asset.sizeBytes bytes and is closed. Publishes progressPercent; throws Cancelled once it sees
// cancelRequested, std::runtime_error with the user's sentence on any failure.
void DownloadInstaller(const ReleaseAsset& asset, const std::filesystem::path& filePath, InstallState& state,
                       const std::wstring& host, std::uint16_t port, bool secure);

// The same download over the given calls.
void DownloadInstallerWith(const ReleaseAsset& asset, const std::filesystem::path& filePath, InstallState& state,
                           const std::wstring& host, std::uint16_t port, bool secure, const DownloadCalls& calls);

}  // namespace lumivance
