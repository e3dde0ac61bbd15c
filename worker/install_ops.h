#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/install_state.h"
#include "worker/release_asset.h"

namespace lumivance {

// Keeps the staging file open against writing, renaming and deletion until the last copy is destroyed.
// Empty when the file could not be locked.
using StagingFileLock = std::shared_ptr<void>;

// Everything the install workflow asks of the system. The program runs with RealInstallOps(), whose
// members are the real functions; tests replace single members to reach every outcome on demand.
struct InstallOps {
    std::function<bool()> isAppRunning;
    std::function<const ReleaseAsset&()> selectReleaseAsset;
    // A new braced GUID ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"), or nothing when none could be made.
    std::function<std::optional<std::wstring>()> newGuidText;
    // Throwing forms of the standard library's temp-folder query and directory creation (false: the
    // directory already existed).
    std::function<std::filesystem::path()> tempDirectory;
    std::function<bool(const std::filesystem::path&)> createDirectory;
    std::function<void(const ReleaseAsset&, const std::filesystem::path& file, InstallState&,
                       const std::wstring& host, std::uint16_t port, bool secure)>
        download;
    std::function<StagingFileLock(const std::filesystem::path& file)> lockStagingFile;
    std::function<void(const std::filesystem::path& file, const ReleaseAsset&)> verify;
    // Starts the installer, waits for it without limit and stores its exit code (left untouched when it
    // cannot be read). False when the process could not be created.
    std::function<bool(const std::filesystem::path& file, const std::filesystem::path& workingDirectory,
                       std::uint32_t& exitCode)>
        launchAndWait;
    // One recursive removal; true when nothing of the directory is left.
    std::function<bool(const std::filesystem::path&)> removeTree;
    std::function<void(std::chrono::milliseconds)> pause;
};

// The real system (Windows only).
InstallOps RealInstallOps();

}  // namespace lumivance
