#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/install_state.h"
#include "base/release_asset.h"
#include "worker/staging_directory.h"

namespace lumivance {

// Said when the staging directory cannot be named or made, and by the shell when no worker can be started.
inline constexpr char kCouldNotPrepareInstallation[] = "Could not prepare installation.";

// Keeps the staging file open against writing, renaming and deletion until the last copy is destroyed.
// Empty when the file could not be locked.
using StagingFileLock = std::shared_ptr<void>;

// Everything the install workflow asks of the system, and of the layers below it.
struct InstallCalls {
    std::function<bool()> isAppRunning;
    std::function<const ReleaseAsset&()> selectReleaseAsset;
    // A new braced GUID ("{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"), or nothing when none could be made.
    std::function<std::optional<std::wstring>()> newGuidText;
    // The throwing form of the standard library's temp-folder query.
    std::function<std::filesystem::path()> tempDirectory;
    // Creates the staging directory, only setup's account allowed in, and holds it; empty when that fails
    // (the directory already existed included), leaving nothing of its own behind.
    std::function<StagingDirectoryHold(const std::filesystem::path&)> createStagingDirectory;
    std::function<void(const ReleaseAsset&, const std::filesystem::path& file, InstallState&, const std::wstring& host,
                       std::uint16_t port, bool secure)>
        download;
    // Opens the file for reading with read sharing only; empty when that fails.
    std::function<StagingFileLock(const std::filesystem::path& file)> lockStagingFile;
    std::function<void(const std::filesystem::path& file, const ReleaseAsset&)> verify;
    // Where an open directory or file now is, as Windows resolves it; nothing when that cannot be read.
    std::function<std::optional<std::wstring>(const std::shared_ptr<void>&)> finalPathOf;
    // Starts the installer (the quoted path as the whole command line, workingDirectory as its current
    // directory, environment inherited, no handles), waits for it without limit and stores its exit code
    // (left untouched when it cannot be read). False when the process could not be created.
    std::function<bool(const std::filesystem::path& file, const std::filesystem::path& workingDirectory,
                       std::uint32_t& exitCode)>
        launchAndWait;
    // Deletes the staging file and then the directory through the hold, leaving anything else alone; the
    // directory goes when the hold is released. False when another try may succeed.
    std::function<bool(const StagingDirectoryHold&)> removeStagingDirectory;
    std::function<void(std::chrono::milliseconds)> pause;
};

// The real system, wired together (Windows): the running-application check, the release selection, the
// download, the verification, and the workflow's own Windows operations.
InstallCalls RealInstallCalls();

// One attempt, start to end, on the worker thread. Never throws Cancelled or a standard exception: the
// outcome lands in errorText/exitCode, the staging directory is removed, and finished is set last.
void RunInstall(InstallState* state);

// The same workflow over the given calls.
void RunInstallWith(InstallState& state, const InstallCalls& calls);

}  // namespace lumivance
