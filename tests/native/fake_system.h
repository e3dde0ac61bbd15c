#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/install_state.h"
#include "base/release_asset.h"
#include "worker/install_workflow.h"

namespace lumivance::testing {

// A scripted system for the install workflow: every operation records that it ran, in order, and does what
// the test set up. Nothing touches the disk, the network or other processes.
struct FakeSystem {
    inline static const ReleaseAsset kRow{L"/downloads/win/x64/LumivanceSetup-0.3.20.exe",
                                          "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef", 4096};

    std::vector<std::string> calls;

    std::vector<bool> appRunningAnswers{false, false};  // first and second check
    std::function<void()> onAppRunningCheck;            // may throw
    std::function<void()> onSelect;                     // may throw
    bool guidFails = false;
    std::wstring guidText = L"{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    std::filesystem::path temp = "/fake-temp";
    std::function<void()> onTempDirectory;
    bool directoryAlreadyExists = false;  // the creation reports failure, as for any other cause
    std::function<void()> onCreateDirectory;
    std::function<void()> onHoldReleased;
    // Where the held directory and the locked file are, as the system resolves them.
    std::optional<std::wstring> directoryFinalPath =
        L"\\\\?\\C:\\Temp\\LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    std::optional<std::wstring> fileFinalPath = *directoryFinalPath + L"\\LumivanceSetup.exe";
    std::function<void(InstallState&)> onDownload;
    bool lockFails = false;
    std::function<void()> onVerify;
    bool launchFails = false;
    std::uint32_t installerExitCode = 0;
    std::function<void()> onLaunch;
    int removalFailures = 0;  // removals that report an error before one succeeds
    std::function<void()> onRemove;

    // What the operations saw.
    std::filesystem::path createdDirectory, downloadedFile, verifiedFile, launchedFile, launchDirectory;
    std::vector<std::filesystem::path> removed;
    std::wstring downloadHost;
    std::uint16_t downloadPort = 0;
    bool downloadSecure = false;
    const ReleaseAsset* downloadedRow = nullptr;
    const ReleaseAsset* verifiedRow = nullptr;
    std::weak_ptr<void> lock;
    std::weak_ptr<void> directoryHold;
    std::vector<std::chrono::milliseconds> pauses;

    InstallCalls Calls()
    {
        InstallCalls system;
        system.isAppRunning = [this] {
            const std::size_t index = Count("isAppRunning");
            calls.push_back("isAppRunning");
            if (onAppRunningCheck) {
                onAppRunningCheck();
            }
            return index < appRunningAnswers.size() && appRunningAnswers[index];
        };
        system.selectReleaseAsset = [this]() -> const ReleaseAsset& {
            calls.push_back("selectReleaseAsset");
            if (onSelect) {
                onSelect();
            }
            return kRow;
        };
        system.newGuidText = [this]() -> std::optional<std::wstring> {
            calls.push_back("newGuidText");
            if (guidFails) {
                return std::nullopt;
            }
            return guidText;
        };
        system.tempDirectory = [this] {
            calls.push_back("tempDirectory");
            if (onTempDirectory) {
                onTempDirectory();
            }
            return temp;
        };
        system.createStagingDirectory = [this](const std::filesystem::path& directory) -> StagingDirectoryHold {
            calls.push_back("createStagingDirectory");
            createdDirectory = directory;
            if (onCreateDirectory) {
                onCreateDirectory();
            }
            if (directoryAlreadyExists) {
                return nullptr;
            }
            auto held = std::shared_ptr<int>(new int(0), [this](int* released) {
                delete released;
                calls.push_back("releaseHold");
                if (onHoldReleased) {
                    onHoldReleased();
                }
            });
            directoryHold = held;
            return held;
        };
        system.download = [this](const ReleaseAsset& row, const std::filesystem::path& file, InstallState& state,
                                 const std::wstring& host, std::uint16_t port, bool secure) {
            calls.push_back("download");
            downloadedRow = &row;
            downloadedFile = file;
            downloadHost = host;
            downloadPort = port;
            downloadSecure = secure;
            if (onDownload) {
                onDownload(state);
            }
        };
        system.lockStagingFile = [this](const std::filesystem::path&) -> StagingFileLock {
            calls.push_back("lockStagingFile");
            if (lockFails) {
                return nullptr;
            }
            auto held = std::make_shared<int>(0);
            lock = held;
            return held;
        };
        system.verify = [this](const std::filesystem::path& file, const ReleaseAsset& row) {
            calls.push_back(lock.expired() ? "verify(unlocked)" : "verify");
            verifiedFile = file;
            verifiedRow = &row;
            if (onVerify) {
                onVerify();
            }
        };
        system.finalPathOf = [this](const std::shared_ptr<void>& handle) {
            const bool isLock = handle == lock.lock();
            calls.push_back(isLock ? "finalPathOf(file)" : "finalPathOf(directory)");
            return isLock ? fileFinalPath : directoryFinalPath;
        };
        system.launchAndWait = [this](const std::filesystem::path& file, const std::filesystem::path& directory,
                                      std::uint32_t& exitCode) {
            calls.push_back(lock.expired() ? "launchAndWait(unlocked)" : "launchAndWait");
            launchedFile = file;
            launchDirectory = directory;
            if (onLaunch) {
                onLaunch();
            }
            if (launchFails) {
                return false;
            }
            exitCode = installerExitCode;
            return true;
        };
        system.removeStagingDirectory = [this](const StagingDirectoryHold& hold) {
            calls.push_back(!lock.expired()                ? "removeStagingDirectory(locked)"
                            : hold != directoryHold.lock() ? "removeStagingDirectory(not the hold)"
                                                           : "removeStagingDirectory");
            removed.push_back(createdDirectory);
            if (onRemove) {
                onRemove();
            }
            if (removalFailures > 0) {
                --removalFailures;
                return false;
            }
            return true;
        };
        system.pause = [this](std::chrono::milliseconds duration) { pauses.push_back(duration); };
        return system;
    }

    std::size_t Count(const std::string& name) const
    {
        std::size_t n = 0;
        for (const std::string& call : calls) {
            n += call == name;
        }
        return n;
    }
};

}  // namespace lumivance::testing
