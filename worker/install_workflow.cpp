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

// `staging` is what the clean-up must undo: the staging directory, held from its creation until the clean-up
// has deleted through the hold what the attempt put there.
void RunSteps(InstallState& state, const InstallCalls& calls, StagingDirectoryHold& staging)
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
    const path stagingDirectory = calls.tempDirectory() / directoryName;
    if (!CanStartFrom(stagingDirectory / kStagingFileName, stagingDirectory)) {
        throw std::runtime_error(kTempFolderTooDeep);  // before anything is made or downloaded
    }
    staging = calls.createStagingDirectory(stagingDirectory);
    // Where the directory really is, taken from the hold: the path the installer is started by must still
    // lead there, through every folder above it, when it is started.
    const std::optional<std::wstring> heldAt = staging ? calls.finalPathOf(staging) : std::nullopt;
    if (!heldAt) {
        throw std::runtime_error(kCouldNotPrepareInstallation);
    }
    const path stagingFile = stagingDirectory / kStagingFileName;

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

    const std::optional<std::wstring> lockedAt = calls.finalPathOf(lock);
    if (!lockedAt || *lockedAt != *heldAt + L"\\" + std::wstring(kStagingFileName)) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    if (!calls.launchAndWait(stagingFile, stagingDirectory, state.exitCode)) {
        throw std::runtime_error(kCouldNotStart);
    }
    if (state.exitCode != 0) {
        throw std::runtime_error(kInstallFailed);
    }
}

void RemoveStagingDirectory(const InstallCalls& calls, const StagingDirectoryHold& hold) noexcept
{
    try {
        for (int attempt = 1; !calls.removeStagingDirectory(hold) && attempt < kRemovalTries; ++attempt) {
            calls.pause(kRemovalPause);
        }
    } catch (...) {
        // Whatever could not be removed stays; the attempt's outcome and finished must not depend on it.
    }
}

}  // namespace

void RunInstallWith(InstallState& state, const InstallCalls& calls)
{
    StagingDirectoryHold staging;
    try {
        RunSteps(state, calls, staging);
    } catch (const Cancelled&) {
        state.exitCode = kExitCancelled;
    } catch (const std::exception& failure) {
        state.errorText = WidenMessage(failure.what());
    }

    if (staging) {
        RemoveStagingDirectory(calls, staging);
        staging.reset();  // the directory goes with the hold
    }
    // The dialog may close from here on: nothing of the record is written after this.
    state.finished.exchange(true);
}

}  // namespace lumivance
