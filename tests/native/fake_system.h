#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
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

    // The staging object the workflow is handed: it records into its system, and marks the system's calls
    // that need the lock "(unlocked)" when it is not held then.
    class Staging {
    public:
        explicit Staging(FakeSystem& system) : system_(&system) {}
        Staging(Staging&& other) noexcept : system_(std::exchange(other.system_, nullptr)), locked_(other.locked_) {}
        Staging& operator=(Staging&&) = delete;
        ~Staging()
        {
            if (system_ != nullptr) {
                system_->calls.push_back("releaseStaging");
                if (system_->onStagingReleased) {
                    system_->onStagingReleased();
                }
            }
        }

        std::optional<InstallerPaths> ExpectedInstallerPaths() const
        {
            system_->calls.push_back("expectedInstallerPaths");
            if (!system_->directoryFinalPath) {
                return std::nullopt;
            }
            return InstallerPaths{*system_->directoryFinalPath + L"\\LumivanceSetup.exe", *system_->directoryFinalPath};
        }
        const char* StartRefusal(const InstallerPaths&) const { return system_->startRefusal; }
        // A token for the file: the system logs its making.
        int NewDownloadFile() const
        {
            system_->downloadSteps.push_back("new file");
            return 1;
        }
        bool LockFile()
        {
            system_->calls.push_back(system_->responseOpen ? "lockFile(response open)" : "lockFile");
            locked_ = system_->lockFailures == 0;
            system_->lockFailures -= !locked_;
            return locked_;
        }
        bool Remove()
        {
            locked_ = false;  // the removal lets go of the file first
            system_->calls.push_back("remove");
            system_->removed.push_back(system_->createdDirectory);
            if (system_->onRemove) {
                system_->onRemove();
            }
            if (system_->removalFailures > 0) {
                --system_->removalFailures;
                return false;
            }
            return true;
        }
        bool locked() const { return locked_; }

    private:
        FakeSystem* system_;
        bool locked_ = false;
    };

    // The server's answer to the download's request, logged when it closes.
    class DownloadResponse {
    public:
        explicit DownloadResponse(FakeSystem& system) : system_(&system) { system.responseOpen = true; }
        DownloadResponse(DownloadResponse&& other) noexcept : system_(std::exchange(other.system_, nullptr)) {}
        DownloadResponse& operator=(DownloadResponse&&) = delete;
        ~DownloadResponse()
        {
            if (system_ != nullptr) {
                system_->downloadSteps.push_back("close response");
                system_->responseOpen = false;
            }
        }

    private:
        FakeSystem* system_;
    };

    std::vector<std::string> calls;
    std::vector<std::string> downloadSteps;  // the download's own steps, in order
    bool responseOpen = false;

    std::vector<bool> appRunningAnswers{false, false};  // first and second check
    std::function<void()> onAppRunningCheck;            // may throw
    std::function<void()> onSelect;                     // may throw
    bool guidFails = false;
    std::wstring guidText = L"{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    std::filesystem::path temp = "/fake-temp";
    std::function<void()> onTempDirectory;
    std::function<void()> onCreateStaging;  // may throw, as the real creation does with the user's sentence
    std::function<void()> onStagingReleased;
    // Where the created directory really is, as the system resolves it.
    std::optional<std::wstring> directoryFinalPath = L"C:\\Temp\\LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";
    std::function<void(InstallState&)> onDownload;
    const char* startRefusal = nullptr;  // what StartRefusal says of the paths
    int lockFailures = 0;                // locks refused, as while a scanner holds the file, before one succeeds
    std::function<void()> onVerify;
    bool launchFails = false;
    std::uint32_t installerExitCode = 0;
    bool exitCodeUnread = false;  // started and waited, but GetExitCodeProcess wrote nothing
    std::function<void()> onLaunch;
    int removalFailures = 0;  // removals that report an error before one succeeds
    std::function<void()> onRemove;

    // What the operations saw.
    std::filesystem::path createdDirectory;
    std::vector<std::filesystem::path> removed;
    std::wstring downloadHost;
    std::uint16_t downloadPort = 0;
    const ReleaseAsset* downloadedRow = nullptr;
    const ReleaseAsset* verifiedRow = nullptr;
    std::vector<std::chrono::milliseconds> pauses;

    bool IsAppRunning()
    {
        const std::size_t index = Count("isAppRunning");
        calls.push_back("isAppRunning");
        if (onAppRunningCheck) {
            onAppRunningCheck();
        }
        return index < appRunningAnswers.size() && appRunningAnswers[index];
    }
    const ReleaseAsset& SelectReleaseAsset()
    {
        calls.push_back("selectReleaseAsset");
        if (onSelect) {
            onSelect();
        }
        return kRow;
    }
    std::optional<std::wstring> NewGuidText()
    {
        calls.push_back("newGuidText");
        if (guidFails) {
            return std::nullopt;
        }
        return guidText;
    }
    std::filesystem::path TempDirectory()
    {
        calls.push_back("tempDirectory");
        if (onTempDirectory) {
            onTempDirectory();
        }
        return temp;
    }
    Staging CreateStaging(const std::filesystem::path& parent, std::wstring_view name)
    {
        calls.push_back("createStaging");
        createdDirectory = parent / name;
        if (onCreateStaging) {
            onCreateStaging();
        }
        return Staging(*this);
    }
    DownloadResponse OpenDownload(const ReleaseAsset& row, const std::wstring& host, std::uint16_t port)
    {
        calls.push_back("download");
        downloadSteps.push_back("open");
        downloadedRow = &row;
        downloadHost = host;
        downloadPort = port;
        return DownloadResponse(*this);
    }
    void ReceiveDownload(DownloadResponse&, int file, const ReleaseAsset& row, InstallState& state)
    {
        downloadSteps.push_back(file == 1 && &row == downloadedRow ? "receive" : "receive(other file or row)");
        if (onDownload) {
            onDownload(state);
        }
    }
    void Verify(Staging& staging, const ReleaseAsset& row)
    {
        calls.push_back(staging.locked() ? "verify" : "verify(unlocked)");
        verifiedRow = &row;
        if (onVerify) {
            onVerify();
        }
    }
    bool LaunchAndWait(Staging& staging, std::uint32_t& exitCode)
    {
        calls.push_back(staging.locked() ? "launchAndWait" : "launchAndWait(unlocked)");
        if (onLaunch) {
            onLaunch();
        }
        if (launchFails) {
            return false;
        }
        if (!exitCodeUnread) {
            exitCode = installerExitCode;
        }
        return true;
    }
    void Pause(std::chrono::milliseconds duration) { pauses.push_back(duration); }

    std::size_t Count(const std::string& name) const
    {
        std::size_t n = 0;
        for (const std::string& call : calls) {
            n += call == name;
        }
        return n;
    }
};

static_assert(InstallSystem<FakeSystem>);

}  // namespace lumivance::testing
