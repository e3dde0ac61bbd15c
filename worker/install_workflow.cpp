#include "worker/install_workflow.h"

#include <exception>
#include <optional>
#include <stdexcept>

#include "base/cancelled.h"
#include "base/message_text.h"
#include "verify/verify_installer.h"
#include "worker/launch_path.h"
#include "worker/release_table.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using namespace std::chrono_literals;

constexpr std::uint32_t kExitCancelled = 1223;  // ERROR_CANCELLED

constexpr char kAppRunningAtStart[] =
    "Quit Lumivance before installing, so any recording can finish. Then choose Retry.";
constexpr char kAppRunningBeforeLaunch[] = "Quit Lumivance before installing, then choose Retry.";
constexpr char kCouldNotStart[] = "Could not start installation. Please try again.";
constexpr char kInstallFailed[] = "Lumivance could not be installed. Close Lumivance and try again.";
// Retry cannot help (setup keeps the environment it was started with), so this names the one fix.
constexpr char kTempFolderTooDeep[] =
    "Your TEMP folder's path is too long to install from. Set TEMP to a shorter folder, then start Lumivance Setup "
    "again.";

// A virus scanner often holds a fresh executable for a moment, so one failed removal would leave the
// download in the user's temp folder. Try again for up to about two seconds, then give up quietly.
constexpr int kRemovalTries = 10;
constexpr auto kRemovalPause = 200ms;

// What an attempt has made that its clean-up must undo: the staging directory, once its path is formed,
// and the hold on it, released before the removal (which needs the delete access the hold denies).
struct Staging {
    path directory;
    StagingDirectoryHold hold;
};

void RunSteps(InstallState& state, const InstallCalls& calls, Staging& staging)
{
    if (calls.isAppRunning()) {
        throw std::runtime_error(kAppRunningAtStart);
    }
    const ReleaseAsset& release = calls.selectReleaseAsset();

    const std::optional<std::wstring> guidText = calls.newGuidText();
    if (!guidText) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    const std::wstring directoryName = std::wstring(kStagingDirectoryPrefix) + *guidText;
    const path directory = calls.tempDirectory() / directoryName;
    if (!CanStartFrom(directory / kStagingFileName, directory)) {
        throw std::runtime_error(kTempFolderTooDeep);  // before anything is made or downloaded
    }
    staging.directory = directory;
    if (!calls.createDirectory(staging.directory)) {
        // Only a repeated GUID gets here: the directory is somebody else's, so it is not ours to remove.
        staging.directory.clear();
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    // Held from now until the clean-up, so that another setup starting meanwhile (in another logon session
    // of the same user) never takes it for one that a killed setup left behind.
    staging.hold = calls.holdStagingDirectory(staging.directory);
    if (!staging.hold) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    const path stagingFile = staging.directory / kStagingFileName;

    calls.download(release, stagingFile, state, kDownloadHost, kDownloadPort, true);

    // Verified by path and started by path: without this lock another process of the user could swap the
    // file in between. Held until the installer has exited, released before the directory is removed.
    const StagingFileLock lock = calls.lockStagingFile(stagingFile);
    if (!lock) {
        throw std::runtime_error(kDownloadNotVerified);
    }

    if (state.cancelRequested.load()) {
        throw Cancelled{};
    }
    state.phase.exchange(InstallPhase::Verifying);
    calls.verify(stagingFile, release);

    state.phase.exchange(InstallPhase::Installing);
    // The last look at cancel: once the installer runs, neither it nor the wait can be interrupted.
    if (state.cancelRequested.load()) {
        throw Cancelled{};
    }
    if (calls.isAppRunning()) {
        throw std::runtime_error(kAppRunningBeforeLaunch);
    }

    if (!calls.launchAndWait(stagingFile, staging.directory, state.exitCode)) {
        throw std::runtime_error(kCouldNotStart);
    }
    if (state.exitCode != 0) {
        throw std::runtime_error(kInstallFailed);
    }
}

void RemoveStagingDirectory(const InstallCalls& calls, const path& directory) noexcept
{
    try {
        for (int attempt = 1; !calls.removeTree(directory) && attempt < kRemovalTries; ++attempt) {
            calls.pause(kRemovalPause);
        }
    } catch (...) {
        // Whatever could not be removed stays; the attempt's outcome and finished must not depend on it.
    }
}

}  // namespace

void RunInstallWith(InstallState& state, const InstallCalls& calls)
{
    Staging staging;
    try {
        RunSteps(state, calls, staging);
    } catch (const Cancelled&) {
        state.exitCode = kExitCancelled;
    } catch (const std::exception& failure) {
        state.errorText = WidenMessage(failure.what());
    }

    staging.hold.reset();
    if (!staging.directory.empty()) {
        RemoveStagingDirectory(calls, staging.directory);
    }
    // The dialog may close from here on: nothing of the record is written after this.
    state.finished.exchange(true);
}

}  // namespace lumivance
