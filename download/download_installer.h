#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "app/install_state.h"
#include "worker/release_asset.h"

namespace lumivance {

// Fetches asset.downloadPath from host:port into filePath and returns only when the file holds exactly
// asset.sizeBytes bytes and is closed. Publishes progressPercent; throws Cancelled once it sees
// cancelRequested, std::runtime_error with the user's sentence on any failure.
void DownloadInstaller(const ReleaseAsset& asset, const std::filesystem::path& filePath, InstallState& state,
                       const std::wstring& host, std::uint16_t port, bool secure);

}  // namespace lumivance
