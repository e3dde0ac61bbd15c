// The install workflow on the real system under Wine: a real staging directory in the real temp folder, the
// real CreateProcessW of a real (fake) installer, the real removal. Only the running check, the release, the
// download and the verification are replaced: the fake installer's bytes are written through the staging
// file the workflow made, and the verification passes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "base/message_text.h"
#include "base/unique_resource_win.h"
#include "tests/windows/test_support.h"
#include "worker/install_system_win.h"
#include "worker/install_workflow.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::ScopedEnvironment;
using testing::ScratchDirectory;

const ReleaseAsset kRow{L"/downloads/win/x64/LumivanceSetup-0.3.20.exe",
                        "0000000000000000000000000000000000000000000000000000000000000000", 1};

// The system's own staging directory, GUID, temp folder, launch and pause, with a download that writes the
// fake installer into the staging file and a verification that passes.
class FakeInstallerSystem {
public:
    // The real staging directory, whose removals are logged.
    class Staging {
    public:
        Staging(StagingDirectory&& staging, FakeInstallerSystem& system) : real(std::move(staging)), system_(&system) {}
        std::optional<InstallerPaths> ExpectedInstallerPaths() const { return real.ExpectedInstallerPaths(); }
        const char* StartRefusal(const InstallerPaths& paths) const { return real.StartRefusal(paths); }
        FileHandle NewDownloadFile() const { return real.NewDownloadFile(); }
        bool LockFile() { return real.LockFile(); }
        bool Remove()
        {
            system_->finishedAtRemoval.push_back(system_->state.finished.load());
            return real.Remove();
        }

        StagingDirectory real;

    private:
        FakeInstallerSystem* system_;
    };
    struct DownloadResponse {};

    InstallState state;
    std::optional<InstallerPaths> staged;  // where the staging file was expected
    std::vector<bool> finishedAtRemoval;
    std::string downloadBytes = testing::ReadFileBytes(testing::ToolPath(L"fake_installer.exe"));
    std::function<void(StagingDirectory&)> onLaunch;

    bool IsAppRunning() { return false; }
    const ReleaseAsset& SelectReleaseAsset() { return kRow; }
    std::optional<std::wstring> NewGuidText() { return real_.NewGuidText(); }
    path TempDirectory() { return real_.TempDirectory(); }
    Staging CreateStaging(const path& temp, std::wstring_view name)
    {
        Staging staging(real_.CreateStaging(temp, name), *this);
        staged = staging.ExpectedInstallerPaths();
        return staging;
    }
    DownloadResponse OpenDownload(const ReleaseAsset&, const std::wstring&, std::uint16_t) { return {}; }
    void ReceiveDownload(DownloadResponse&, FileHandle file, const ReleaseAsset&, InstallState& attemptState)
    {
        DWORD written = 0;
        ASSERT_TRUE(file && WriteFile(file.get(), downloadBytes.data(), static_cast<DWORD>(downloadBytes.size()),
                                      &written, nullptr));
        attemptState.progressPercent.exchange(100);
    }
    void Verify(Staging&, const ReleaseAsset&) {}
    bool LaunchAndWait(Staging& staging, std::uint32_t& exitCode)
    {
        const bool started = real_.LaunchAndWait(staging.real, exitCode);
        if (onLaunch) {
            onLaunch(staging.real);
        }
        return started;
    }
    void Pause(std::chrono::milliseconds duration) { real_.Pause(duration); }

    path StagingFile() const { return staged ? path(staged->file) : path(); }

private:
    WindowsInstallSystem real_;
};

TEST(InstallWorkflowOnWindows, StartsTheInstallerFromAFreshStagingDirectoryAndRemovesIt)
{
    ScratchDirectory scratch;
    const path report = scratch.path() / L"report.txt";
    const ScopedEnvironment reportTo(L"LUMIVANCE_FAKE_INSTALLER_REPORT", report.wstring());
    const ScopedEnvironment echo(L"LUMIVANCE_FAKE_INSTALLER_ECHO", L"inherited \u00E9");

    FakeInstallerSystem system;
    RunInstallWith(system.state, system);

    EXPECT_EQ(system.state.errorText, L"");
    EXPECT_EQ(system.state.exitCode, 0u);
    const path stagingFile = system.StagingFile();
    ASSERT_FALSE(stagingFile.empty());
    const path stagingDirectory = stagingFile.parent_path();
    const std::wstring name = stagingDirectory.filename().wstring();
    EXPECT_EQ(name.size(), 53u);
    EXPECT_TRUE(std::regex_match(name, std::wregex(LR"(LumivanceSetup-\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\})")))
        << name;
    EXPECT_EQ(stagingDirectory, std::filesystem::temp_directory_path() / name) << "directly in the temp folder";
    EXPECT_EQ(stagingFile.filename(), L"LumivanceSetup.exe");

    const auto fields = testing::ReadInstallerReport(report);
    ASSERT_FALSE(fields.empty()) << "the installer did not run";
    EXPECT_EQ(fields.at("command_line"), L"\"" + stagingFile.wstring() + L"\"") << "no arguments at all";
    EXPECT_EQ(path(fields.at("current_directory")), stagingDirectory);
    EXPECT_EQ(fields.at("echo"), L"inherited \u00E9") << "the environment is inherited";

    EXPECT_FALSE(std::filesystem::exists(stagingDirectory));
    EXPECT_THAT(system.finishedAtRemoval, ::testing::ElementsAre(false)) << "finished only after the removal";
    EXPECT_TRUE(system.state.finished.load());
}

TEST(InstallWorkflowOnWindows, InstallerExitCodesComeBackExactly)
{
    for (const std::uint32_t code : {0u, 3u, 1602u, 1223u, 0xC0000005u}) {
        SCOPED_TRACE(code);
        const ScopedEnvironment exitWith(L"LUMIVANCE_FAKE_INSTALLER_EXIT", std::to_wstring(code));
        FakeInstallerSystem system;
        RunInstallWith(system.state, system);
        EXPECT_EQ(system.state.exitCode, code);
        EXPECT_EQ(system.state.errorText,
                  code == 0 ? L"" : L"Lumivance could not be installed. Close Lumivance and try again.");
        EXPECT_FALSE(std::filesystem::exists(system.StagingFile().parent_path()));
    }
}

TEST(InstallWorkflowOnWindows, FileThatIsNoProgramIsReportedAndRemoved)
{
    FakeInstallerSystem system;
    system.downloadBytes = "<html>captive portal</html>";
    RunInstallWith(system.state, system);
    EXPECT_EQ(system.state.errorText, L"Could not start installation. Please try again.");
    EXPECT_EQ(system.state.exitCode, 1u);
    EXPECT_FALSE(std::filesystem::exists(system.StagingFile().parent_path()));
}

TEST(InstallWorkflowOnWindows, RemovalOutlastsAScannerHoldingTheFreshInstaller)
{
    FakeInstallerSystem system;
    std::thread scanner;
    std::atomic<bool> scannerHolds{false};
    system.onLaunch = [&](StagingDirectory&) {
        // Like an antivirus scanner: opened without delete sharing, let go of after a moment.
        FileHandle held(CreateFileW(system.StagingFile().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    0, nullptr));
        scannerHolds = static_cast<bool>(held);
        scanner = std::thread([held = std::move(held)]() mutable {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            held.reset();
        });
    };
    const auto started = std::chrono::steady_clock::now();
    RunInstallWith(system.state, system);
    const auto took = std::chrono::steady_clock::now() - started;
    scanner.join();

    ASSERT_TRUE(scannerHolds);
    EXPECT_EQ(system.state.exitCode, 0u);
    EXPECT_GT(system.finishedAtRemoval.size(), 1u) << "the first removal should have met the scanner";
    EXPECT_FALSE(std::filesystem::exists(system.StagingFile().parent_path())) << "junk left in the temp folder";
    EXPECT_LT(took, std::chrono::seconds(3));
}

// The installer is started by the path read from its handle: the user's name in it must come through whole.
TEST(InstallWorkflowOnWindows, NonAsciiTempFolderStartsTheInstallerByItsWholeName)
{
    ScratchDirectory temp(L"J\u00FCrgen \u65E5\u672C \u2603");
    const ScopedEnvironment tmp(L"TMP", temp.path().wstring());
    const ScopedEnvironment temp2(L"TEMP", temp.path().wstring());
    const path report = temp.path() / L"report.txt";
    const ScopedEnvironment reportTo(L"LUMIVANCE_FAKE_INSTALLER_REPORT", report.wstring());

    FakeInstallerSystem system;
    RunInstallWith(system.state, system);

    EXPECT_EQ(system.state.exitCode, 0u) << testing::ToUtf8(system.state.errorText);
    EXPECT_EQ(system.StagingFile().parent_path().parent_path(), temp.path());
    const auto fields = testing::ReadInstallerReport(report);
    ASSERT_FALSE(fields.empty()) << "the installer did not run";
    EXPECT_EQ(fields.at("command_line"), L"\"" + system.StagingFile().wstring() + L"\"");
    EXPECT_FALSE(std::filesystem::exists(system.StagingFile().parent_path()));
}

TEST(InstallWorkflowOnWindows, MessagesThatAreNotUtf8AreReadInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test prefix is expected to use Windows-1252";
    EXPECT_EQ(WidenMessage("caf\xE9 \x80 5"), L"caf\u00E9 \u20AC 5");
}

}  // namespace
}  // namespace lumivance
