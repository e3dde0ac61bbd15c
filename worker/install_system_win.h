#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "base/install_state.h"
#include "base/release_asset.h"
#include "base/unique_resource_win.h"
#include "download/download_installer_win.h"
#include "staging/staging_directory_win.h"

namespace lumivance {

// The system the install workflow runs on (InstallSystem in worker/install_workflow.h): the one place where
// the real functions of every layer are wired together for it.
class WindowsInstallSystem {
public:
    using Staging = StagingDirectory;
    using DownloadResponse = lumivance::DownloadResponse;

    bool IsAppRunning();
    const ReleaseAsset& SelectReleaseAsset();
    // CoCreateGuid + StringFromGUID2 into a zeroed 40-unit buffer; nothing when CoCreateGuid fails.
    std::optional<std::wstring> NewGuidText();
    std::filesystem::path TempDirectory();
    Staging CreateStaging(const std::filesystem::path& temp, std::wstring_view name);
    DownloadResponse OpenDownload(const ReleaseAsset& release, const std::wstring& host, std::uint16_t port);
    // Into the staging file, made new inside the held directory after the server has answered.
    void ReceiveDownload(const DownloadResponse& response, FileHandle file, const ReleaseAsset& release,
                         InstallState& state);
    // Size, digest and signature of the locked file, read through its handle.
    void Verify(Staging& staging, const ReleaseAsset& release);
    // Starts the installer by the locked file's final path, read right before, with the directory's final path
    // as its current directory, its quoted path as the whole command line, the environment inherited and no
    // handles; waits without limit and stores its exit code (left untouched when it cannot be read). False
    // when the paths cannot be read or are too long, or the process could not be created; throws the user's
    // sentence when the paths no longer open the locked file and the held directory.
    bool LaunchAndWait(Staging& staging, std::uint32_t& exitCode);
    void Pause(std::chrono::milliseconds duration);
};

}  // namespace lumivance
