// The install workflow on the real system under Wine: a real staging directory in the real temp folder, the
// real CreateProcessW of a real (fake) installer, the real removal. Only the download and the verification
// are replaced, by a copy of the fake installer and a no-op.
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
#include "worker/install_workflow.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::ScopedEnvironment;
using testing::ScratchDirectory;

const ReleaseAsset kRow{L"/downloads/win/x64/LumivanceSetup-0.3.20.exe",
                        "0000000000000000000000000000000000000000000000000000000000000000", 1};

struct Attempt {
    InstallState state;
    path stagingFile;  // as the download saw it
    std::vector<bool> finishedAtRemoval;
};

// The system's own operations, with a download that copies the fake installer into place.
InstallCalls CallsWithFakeInstaller(Attempt& attempt)
{
    InstallCalls calls = RealInstallCalls();
    calls.isAppRunning = [] { return false; };
    calls.selectReleaseAsset = []() -> const ReleaseAsset& { return kRow; };
    calls.download = [&attempt](const ReleaseAsset&, const path& file, InstallState& state, const std::wstring&,
                                std::uint16_t, bool) {
        attempt.stagingFile = file;
        std::filesystem::copy_file(testing::ToolPath(L"fake_installer.exe"), file);
        state.progressPercent.exchange(100);
    };
    calls.verify = [](const path&, const ReleaseAsset&) {};
    const auto remove = calls.removeStagingDirectory;
    calls.removeStagingDirectory = [&attempt, remove](const StagingDirectoryHold& hold) {
        attempt.finishedAtRemoval.push_back(attempt.state.finished.load());
        return remove(hold);
    };
    return calls;
}

TEST(InstallWorkflowOnWindows, StartsTheInstallerFromAFreshStagingDirectoryAndRemovesIt)
{
    ScratchDirectory scratch;
    const path report = scratch.path() / L"report.txt";
    const ScopedEnvironment reportTo(L"LUMIVANCE_FAKE_INSTALLER_REPORT", report.wstring());
    const ScopedEnvironment echo(L"LUMIVANCE_FAKE_INSTALLER_ECHO", L"inherited \u00E9");

    Attempt attempt;
    RunInstallWith(attempt.state, CallsWithFakeInstaller(attempt));

    EXPECT_EQ(attempt.state.errorText, L"");
    EXPECT_EQ(attempt.state.exitCode, 0u);
    ASSERT_FALSE(attempt.stagingFile.empty());
    const path stagingDirectory = attempt.stagingFile.parent_path();
    const std::wstring name = stagingDirectory.filename().wstring();
    EXPECT_EQ(name.size(), 53u);
    EXPECT_TRUE(std::regex_match(name, std::wregex(LR"(LumivanceSetup-\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\})")))
        << name;
    EXPECT_EQ(stagingDirectory, std::filesystem::temp_directory_path() / name) << "directly in the temp folder";
    EXPECT_EQ(attempt.stagingFile.filename(), L"LumivanceSetup.exe");

    const auto fields = testing::ReadInstallerReport(report);
    ASSERT_FALSE(fields.empty()) << "the installer did not run";
    EXPECT_EQ(fields.at("command_line"), L"\"" + attempt.stagingFile.wstring() + L"\"") << "no arguments at all";
    EXPECT_EQ(path(fields.at("current_directory")), stagingDirectory);
    EXPECT_EQ(fields.at("echo"), L"inherited \u00E9") << "the environment is inherited";

    EXPECT_FALSE(std::filesystem::exists(stagingDirectory));
    EXPECT_THAT(attempt.finishedAtRemoval, ::testing::ElementsAre(false)) << "finished only after the removal";
    EXPECT_TRUE(attempt.state.finished.load());
}

TEST(InstallWorkflowOnWindows, InstallerExitCodesComeBackExactly)
{
    for (const std::uint32_t code : {0u, 3u, 1602u, 1223u, 0xC0000005u}) {
        SCOPED_TRACE(code);
        const ScopedEnvironment exitWith(L"LUMIVANCE_FAKE_INSTALLER_EXIT", std::to_wstring(code));
        Attempt attempt;
        RunInstallWith(attempt.state, CallsWithFakeInstaller(attempt));
        EXPECT_EQ(attempt.state.exitCode, code);
        EXPECT_EQ(attempt.state.errorText,
                  code == 0 ? L"" : L"Lumivance could not be installed. Close Lumivance and try again.");
        EXPECT_FALSE(std::filesystem::exists(attempt.stagingFile.parent_path()));
    }
}

TEST(InstallWorkflowOnWindows, FileThatIsNoProgramIsReportedAndRemoved)
{
    Attempt attempt;
    InstallCalls calls = CallsWithFakeInstaller(attempt);
    calls.download = [&attempt](const ReleaseAsset&, const path& file, InstallState&, const std::wstring&,
                                std::uint16_t, bool) {
        attempt.stagingFile = file;
        std::ofstream(file, std::ios::binary) << "<html>captive portal</html>";
    };
    RunInstallWith(attempt.state, calls);
    EXPECT_EQ(attempt.state.errorText, L"Could not start installation. Please try again.");
    EXPECT_EQ(attempt.state.exitCode, 1u);
    EXPECT_FALSE(std::filesystem::exists(attempt.stagingFile.parent_path()));
}

TEST(InstallWorkflowOnWindows, RemovalOutlastsAScannerHoldingTheFreshInstaller)
{
    Attempt attempt;
    InstallCalls calls = CallsWithFakeInstaller(attempt);
    std::thread scanner;
    std::atomic<bool> scannerHolds{false};
    const auto launch = calls.launchAndWait;
    calls.launchAndWait = [&](const path& file, const path& directory, std::uint32_t& exitCode) {
        const bool started = launch(file, directory, exitCode);
        // Like an antivirus scanner: opened without delete sharing, let go of after a moment.
        FileHandle held(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        scannerHolds = static_cast<bool>(held);
        scanner = std::thread([held = std::move(held)]() mutable {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            held.reset();
        });
        return started;
    };
    const auto started = std::chrono::steady_clock::now();
    RunInstallWith(attempt.state, calls);
    const auto took = std::chrono::steady_clock::now() - started;
    scanner.join();

    ASSERT_TRUE(scannerHolds);
    EXPECT_EQ(attempt.state.exitCode, 0u);
    EXPECT_GT(attempt.finishedAtRemoval.size(), 1u) << "the first removal should have met the scanner";
    EXPECT_FALSE(std::filesystem::exists(attempt.stagingFile.parent_path())) << "junk left in the temp folder";
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST(InstallWorkflowOnWindows, NonAsciiTempFolderKeepsItsNameInTheErrorText)
{
    ScratchDirectory temp(L"J\u00FCrgen \u65E5\u672C \u2603");
    const ScopedEnvironment tmp(L"TMP", temp.path().wstring());
    const ScopedEnvironment temp2(L"TEMP", temp.path().wstring());

    Attempt attempt;
    InstallCalls calls = CallsWithFakeInstaller(attempt);
    calls.download = [&attempt](const ReleaseAsset&, const path& file, InstallState&, const std::wstring&,
                                std::uint16_t, bool) { attempt.stagingFile = file; };  // writes nothing
    calls.lockStagingFile = [](const path&) { return std::make_shared<int>(0); };      // nothing there to lock
    calls.verify = [](const path& file, const ReleaseAsset&) { (void)std::filesystem::file_size(file); };
    RunInstallWith(attempt.state, calls);

    EXPECT_EQ(attempt.stagingFile.parent_path().parent_path(), temp.path());
    EXPECT_NE(attempt.state.errorText.find(attempt.stagingFile.wstring()), std::wstring::npos)
        << "the library's message names the file; its characters must survive: "
        << testing::ToUtf8(attempt.state.errorText) << " / " << testing::ToUtf8(attempt.stagingFile.wstring());
    EXPECT_EQ(attempt.state.exitCode, 1u);
    EXPECT_FALSE(std::filesystem::exists(attempt.stagingFile.parent_path()));
}

TEST(InstallWorkflowOnWindows, MessagesThatAreNotUtf8AreReadInTheAnsiCodePage)
{
    ASSERT_EQ(GetACP(), 1252u) << "the test prefix is expected to use Windows-1252";
    EXPECT_EQ(WidenMessage("caf\xE9 \x80 5"), L"caf\u00E9 \u20AC 5");
}

}  // namespace
}  // namespace lumivance
