#include "worker/install_workflow.h"

#include <exception>
#include <optional>
#include <stdexcept>

#include "worker/cancelled.h"
#include "worker/message_text.h"
#include "worker/release_table.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using namespace std::chrono_literals;

constexpr std::uint32_t kExitCancelled = 1223;  // ERROR_CANCELLED
constexpr wchar_t kStagingDirectoryPrefix[] = L"LumivanceSetup-";
constexpr wchar_t kStagingFileName[] = L"LumivanceSetup.exe";

constexpr char kAppRunningAtStart[] =
    "Quit Lumivance before installing, so any recording can finish. Then choose Retry.";
constexpr char kAppRunningBeforeLaunch[] = "Quit Lumivance before installing, then choose Retry.";
constexpr char kCouldNotPrepare[] = "Could not prepare installation.";
constexpr char kNotVerified[] = "The download could not be verified. Nothing was installed. Please try again.";
constexpr char kCouldNotStart[] = "Could not start installation. Please try again.";
constexpr char kInstallFailed[] = "Lumivance could not be installed. Close Lumivance and try again.";

// A virus scanner often holds a fresh executable for a moment, so one failed removal would leave the
// download in the user's temp folder. Try again for up to about two seconds, then give up quietly.
constexpr int kRemovalTries = 10;
constexpr auto kRemovalPause = 200ms;

void RunSteps(InstallState& state, const InstallOps& ops, path& stagingDirectory)
{
    if (ops.isAppRunning()) {
        throw std::runtime_error(kAppRunningAtStart);
    }
    const ReleaseAsset& release = ops.selectReleaseAsset();

    const std::optional<std::wstring> guidText = ops.newGuidText();
    if (!guidText) {
        throw std::runtime_error(kCouldNotPrepare);
    }
    const std::wstring directoryName = kStagingDirectoryPrefix + *guidText;
    const path tempDirectory = ops.tempDirectory();
    stagingDirectory = tempDirectory / directoryName;
    if (!ops.createDirectory(stagingDirectory)) {
        // Only a repeated GUID gets here: the directory is somebody else's, so it is not ours to remove.
        stagingDirectory.clear();
        throw std::runtime_error(kCouldNotPrepare);
    }
    const path stagingFile = stagingDirectory / kStagingFileName;

    ops.download(release, stagingFile, state, kDownloadHost, kDownloadPort, true);

    // Verified by path and started by path: without this lock another process of the user could swap the
    // file in between. Held until the installer has exited, released before the directory is removed.
    const StagingFileLock lock = ops.lockStagingFile(stagingFile);
    if (!lock) {
        throw std::runtime_error(kNotVerified);
    }

    if (state.cancelRequested.load()) {
        throw Cancelled{};
    }
    state.phase.exchange(InstallPhase::Verifying);
    ops.verify(stagingFile, release);

    state.phase.exchange(InstallPhase::Installing);
    // The last look at cancel: once the installer runs, neither it nor the wait can be interrupted.
    if (state.cancelRequested.load()) {
        throw Cancelled{};
    }
    if (ops.isAppRunning()) {
        throw std::runtime_error(kAppRunningBeforeLaunch);
    }

    if (!ops.launchAndWait(stagingFile, stagingDirectory, state.exitCode)) {
        throw std::runtime_error(kCouldNotStart);
    }
    if (state.exitCode != 0) {
        throw std::runtime_error(kInstallFailed);
    }
}

void RemoveStagingDirectory(const InstallOps& ops, const path& directory) noexcept
{
    try {
        for (int attempt = 1; !ops.removeTree(directory) && attempt < kRemovalTries; ++attempt) {
            ops.pause(kRemovalPause);
        }
    } catch (...) {
        // Whatever could not be removed stays; the attempt's outcome and finished must not depend on it.
    }
}

}  // namespace

void RunInstallWith(InstallState& state, const InstallOps& ops)
{
    path stagingDirectory;  // the clean-up removes it on every path once it is set
    try {
        RunSteps(state, ops, stagingDirectory);
    } catch (const Cancelled&) {
        state.exitCode = kExitCancelled;
    } catch (const std::exception& failure) {
        state.errorText = WidenMessage(failure.what());
    }

    if (!stagingDirectory.empty()) {
        RemoveStagingDirectory(ops, stagingDirectory);
    }
    // The dialog may close from here on: nothing of the record is written after this.
    state.finished.exchange(true);
}

}  // namespace lumivance
