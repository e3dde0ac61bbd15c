#pragma once

// One attempt, start to end, on the worker thread. The sequence is platform-free; the system it runs on is
// any type that satisfies InstallSystem below (the real one is WindowsInstallSystem, worker/install_system_win.h;
// the native tests script their own).
#include <chrono>
#include <concepts>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/cancelled.h"
#include "base/install_state.h"
#include "base/message_text.h"
#include "catalogue.h"
#include "staging/launch_path.h"
#include "staging/staging_names.h"
#include "worker/release_table.h"

namespace lumivance {

inline constexpr std::uint32_t kExitCancelled = 1223;  // ERROR_CANCELLED

// A virus scanner often holds a fresh executable for a moment (and an open may meet its oplock while that is
// being broken), so one failed lock would refuse a good download and one failed removal would leave it in the
// user's temp folder. Both try again for up to about two seconds.
inline constexpr int kBusyFileTries = 10;
inline constexpr auto kBusyFilePause = std::chrono::milliseconds(200);

// The staging object of one attempt: move-only, it owns what the attempt made in the temp folder.
template <typename Staging>
concept InstallStaging = std::move_constructible<Staging> &&
    requires(Staging& staging, const Staging& held, const InstallerPaths& paths)
{
    // The paths the installer will be started by; nothing when the directory's place cannot be read.
    requires std::same_as<decltype(held.ExpectedInstallerPaths()), std::optional<InstallerPaths>>;
    // The sentence when the paths would not start what setup holds; nullptr when they would.
    requires std::same_as<decltype(held.StartRefusal(paths)), const char*>;
    // The staging file, made new for the download to write through (empty when it cannot be).
    staging.NewDownloadFile();
    // Read sharing only, until the staging is removed; false while another program has the file.
    requires std::same_as<decltype(staging.LockFile()), bool>;
    // False when another try may succeed.
    requires std::same_as<decltype(staging.Remove()), bool>;
};

// What the workflow asks of the system it runs on.
template <typename System>
concept InstallSystem = InstallStaging<typename System::Staging> &&
    requires(System& system, typename System::Staging& staging, typename System::DownloadResponse& response,
             const ReleaseAsset& release, InstallState& state, const std::filesystem::path& temp,
             std::wstring_view name, const std::wstring& host, std::uint16_t port, std::uint32_t& exitCode,
             std::chrono::milliseconds duration)
{
    requires std::same_as<decltype(system.IsAppRunning()), bool>;
    requires std::same_as<decltype(system.SelectReleaseAsset()), const ReleaseAsset&>;
    // A braced GUID, "{xxxxxxxx-...}"; nothing when none can be made.
    requires std::same_as<decltype(system.NewGuidText()), std::optional<std::wstring>>;
    // The throwing form of the standard library's query.
    requires std::same_as<decltype(system.TempDirectory()), std::filesystem::path>;
    // Throws the user's sentence; nothing is left behind then.
    requires std::same_as<decltype(system.CreateStaging(temp, name)), typename System::Staging>;
    // Returns once the server has answered 200, before any of the body; the file is made after it.
    requires std::same_as<decltype(system.OpenDownload(release, host, port)), typename System::DownloadResponse>;
    system.ReceiveDownload(response, staging.NewDownloadFile(), release, state);
    // Of the locked file.
    system.Verify(staging, release);
    // False when the installer could not be started; throws the user's sentence when its paths no longer
    // lead to it.
    requires std::same_as<decltype(system.LaunchAndWait(staging, exitCode)), bool>;
    system.Pause(duration);
};

namespace workflow {

// `staging` is what the clean-up must undo: everything the attempt made in the temp folder, from the
// directory's creation on.
template <InstallSystem System>
void RunSteps(InstallState& state, System& system, std::optional<typename System::Staging>& staging)
{
    if (system.IsAppRunning()) {
        throw std::runtime_error(kAppRunningAtStart);
    }
    const ReleaseAsset& release = system.SelectReleaseAsset();

    const std::optional<std::wstring> guidText = system.NewGuidText();
    if (!guidText) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    const std::wstring name = std::wstring(kStagingDirectoryPrefix) + *guidText;
    const std::filesystem::path temp = system.TempDirectory();
    if (!CanStartFrom(temp / name / kStagingFileName, temp / name)) {
        throw std::runtime_error(kTempFolderTooDeep);  // before anything is made or downloaded
    }
    staging.emplace(system.CreateStaging(temp, name));
    // Where the directory really is may be longer than the temp folder's name for it (a link, a short name).
    const auto expected = staging->ExpectedInstallerPaths();
    if (!expected) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    if (!CanStartFrom(expected->file, expected->directory)) {
        throw std::runtime_error(kTempFolderTooDeep);  // before any request
    }
    if (const char* refusal = staging->StartRefusal(*expected)) {
        throw std::runtime_error(refusal);  // before any request: the launch would be refused after it
    }

    {
        // The file is made only once the server has answered 200, so a refused request leaves none behind; the
        // response closes before the file is locked.
        typename System::DownloadResponse response = system.OpenDownload(release, kDownloadHost, kDownloadPort);
        system.ReceiveDownload(response, staging->NewDownloadFile(), release, state);
    }
    for (int attempt = 1; !staging->LockFile(); ++attempt) {
        if (attempt == kBusyFileTries) {
            throw std::runtime_error(kDownloadInUse);
        }
        system.Pause(kBusyFilePause);
    }

    ThrowIfCancelled(state);
    state.phase.exchange(InstallPhase::Verifying);
    system.Verify(*staging, release);

    state.phase.exchange(InstallPhase::Installing);
    // The last look at cancel: once the installer runs, neither it nor the wait can be interrupted.
    ThrowIfCancelled(state);
    if (system.IsAppRunning()) {
        throw std::runtime_error(kAppRunningBeforeLaunch);
    }
    if (!system.LaunchAndWait(*staging, state.exitCode)) {
        throw std::runtime_error(kCouldNotStartInstallation);
    }
    if (state.exitCode != 0) {
        throw std::runtime_error(kInstallFailed);
    }
}

template <InstallSystem System>
void Remove(System& system, typename System::Staging& staging) noexcept
{
    try {
        for (int attempt = 1; !staging.Remove() && attempt < kBusyFileTries; ++attempt) {
            system.Pause(kBusyFilePause);
        }
    } catch (...) {
        // Whatever could not be removed stays; the attempt's outcome and finished must not depend on it.
    }
}

}  // namespace workflow

// One attempt over the given system. Never throws Cancelled or a standard exception: the outcome lands in
// errorText/exitCode, what the attempt made in the temp folder is removed, and finished is set last.
template <InstallSystem System>
void RunInstallWith(InstallState& state, System& system)
{
    std::optional<typename System::Staging> staging;
    try {
        workflow::RunSteps(state, system, staging);
    } catch (const Cancelled&) {
        state.exitCode = kExitCancelled;
    } catch (const std::exception& failure) {
        state.errorText = WidenMessage(failure.what());
    }
    if (staging) {
        workflow::Remove(system, *staging);
        staging.reset();  // its last handles go with it
    }
    // The dialog may close from here on: nothing of the record is written after this.
    state.finished.exchange(true);
}

// One attempt on the real system (Windows), the worker thread's whole body.
void RunInstall(InstallState* state) noexcept;

}  // namespace lumivance
