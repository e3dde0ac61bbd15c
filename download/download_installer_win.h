#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/install_state.h"
#include "base/release_asset.h"
#include "base/unique_resource_win.h"

namespace lumivance {

// What the download asks of the system besides WinHTTP and the file: the clock of its ten-minute body limit,
// a millisecond tick count that never goes backwards. Tests pass their own ticks to reach the limit at once.
struct DownloadCalls {
    std::function<std::uint64_t()> tickCount;
};

// GetTickCount64.
DownloadCalls RealDownloadCalls();

// Makes the file the body is written through, new; empty when it cannot. Called only once the server has
// answered 200, so a refused request leaves no file behind.
using CreateDownloadFile = std::function<FileHandle()>;

// Fetches asset.downloadPath from host:port over HTTPS into the file that createFile makes, and returns only
// when it holds exactly asset.sizeBytes bytes and is closed. Publishes progressPercent; throws Cancelled once
// it sees cancelRequested, std::runtime_error with the user's sentence on any failure.
void DownloadInstaller(const ReleaseAsset& asset, const CreateDownloadFile& createFile, InstallState& state,
                       const std::wstring& host, std::uint16_t port);

// The same download over the given calls.
void DownloadInstallerWith(const ReleaseAsset& asset, const CreateDownloadFile& createFile, InstallState& state,
                           const std::wstring& host, std::uint16_t port, const DownloadCalls& calls);

}  // namespace lumivance
