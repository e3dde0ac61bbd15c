// The whole program, as a user meets it: the real LumivanceWebSetup.exe under Wine and Xvfb, downloading
// from the loopback test host over real TLS, verifying with the real CNG and WinTrust, starting a real
// (fake) installer, watched and answered through the UI driver. Each test runs its own setup with its own
// temp folder, so "nothing left behind" is checked where setup actually worked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/end_to_end_fixture.h"
#include "tests/windows/running_copy.h"

namespace lumivance::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

// As linked, and as a publisher ships it: signed by scripts/sign-setup, a certificate table appended.
TEST_F(EndToEnd, InstallsAndExitsWithTheInstallersZero)
{
    for (const bool publisherSigned : {false, true}) {
        SCOPED_TRACE(publisherSigned ? "setup signed as scripts/release signs it" : "setup as linked");
        Serve("exact signed");
        SetupRun setup({.installerWaitMs = 1500, .publisherSigned = publisherSigned});
        const auto installing = setup.WaitForDialog([](const auto& d) { return d.content == kInstalling; });
        ASSERT_TRUE(installing) << "the dialog never said to complete the installation";
        EXPECT_EQ(installing->title, L"Lumivance Setup");
        EXPECT_EQ(installing->mainInstruction, L"Installing Lumivance");
        EXPECT_FALSE(installing->cancelEnabled) << "Cancel must be disabled while the installer runs";

        EXPECT_EQ(setup.WaitForExit(), 0u);
        EXPECT_EQ(setup.program().Look().messageBoxCount, 0);
        const auto report = setup.InstallerReport();
        ASSERT_FALSE(report.empty()) << "the installer never ran";
        const std::filesystem::path staging = std::filesystem::path(report.at("current_directory"));
        EXPECT_EQ(staging.parent_path(), setup.temp());
        EXPECT_TRUE(staging.filename().wstring().starts_with(L"LumivanceSetup-{"));
        EXPECT_EQ(report.at("command_line"), L"\"" + (staging / L"LumivanceSetup.exe").wstring() + L"\"");
        EXPECT_EQ(report.at("echo"), L"from the test") << "the installer inherits setup's environment";
        ExpectNothingLeft(setup);
    }
    // One request per run.
    EXPECT_THAT(RequestLines(), ElementsAre(kInstallerRequest, kInstallerRequest));
}

TEST_F(EndToEnd, InstallerFailureIsReportedAndItsCodeBecomesTheExitCode)
{
    Serve("exact signed");
    SetupRun setup({.installerExitCode = 3});
    EXPECT_EQ(ExpectBoxThenCancel(setup, L"Lumivance could not be installed. Close Lumivance and try again."), 3u);
    EXPECT_FALSE(setup.InstallerReport().empty());
    ExpectNothingLeft(setup);
}

// Every way the download or its verification can fail ends in the same shape: the sentence in the box,
// exit code 1 after Cancel, the installer never started, nothing left behind.
TEST_F(EndToEnd, RefusedDownloadsNeverStartTheInstaller)
{
    struct Case {
        const char* scenario;
        Pinned pinned;
        const wchar_t* sentence;
    };
    const Case cases[] = {
        {"notfound", Pinned::Signed, L"The installer is temporarily unavailable. Please try again shortly."},
        {"redirect signed", Pinned::Signed, L"The installer is temporarily unavailable. Please try again shortly."},
        {"short signed", Pinned::Signed, L"The download is incomplete. Please try again."},
        {"long signed", Pinned::Signed, L"The download could not be verified. Nothing was installed."},
        // Same size as the pinned installer, one byte different: only the digest can tell.
        {"exact patched", Pinned::Signed,
         L"The download could not be verified. Nothing was installed. Please try again."},
        {"exact unsigned", Pinned::Unsigned,
         L"Windows could not verify Lumivance's signature. Check your internet connection and Windows updates, "
         L"then try again."},
        {"exact patched", Pinned::Patched,
         L"Windows could not verify Lumivance's signature. Check your internet connection and Windows updates, "
         L"then try again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        Serve(c.scenario);
        SetupRun setup({.pinned = c.pinned});
        EXPECT_EQ(ExpectBoxThenCancel(setup, c.sentence), 1u);
        EXPECT_TRUE(setup.InstallerReport().empty()) << "the installer must not have run";
        ExpectNothingLeft(setup);
    }
    // One request per attempt: the redirect was not followed.
    EXPECT_EQ(RequestLines().size(), std::size(cases));
}

TEST_F(EndToEnd, RunningApplicationStopsSetupBeforeAnyDownload)
{
    Serve("exact signed");
    SetupRun setup;
    const testing::RunningCopy app(setup.localAppData() / L"Lumivance" / L"Lumivance.exe");
    EXPECT_EQ(ExpectBoxThenCancel(setup,
                                  L"Quit Lumivance before installing, so any recording can finish. Then choose Retry."),
              1u);
    EXPECT_THAT(RequestLines(), IsEmpty()) << "nothing may be downloaded while the app runs";
    ExpectNothingLeft(setup);
}

// The app is started once setup's request has reached the host, so the first check has passed; setup
// downloads and verifies everything, then refuses at its last check before the launch.
TEST_F(EndToEnd, ApplicationStartedDuringTheDownloadIsCaughtBeforeTheLaunch)
{
    Serve("drip signed");
    SetupRun setup;
    ASSERT_TRUE(ui::WaitFor([] { return !RequestLines().empty(); }, 20s)) << "setup never asked for the installer";
    const testing::RunningCopy app(setup.localAppData() / L"Lumivance" / L"Lumivance.exe");
    // This sentence belongs to the check after the verification: reaching it means the whole file came
    // down and was verified before setup refused to start it.
    EXPECT_EQ(ExpectBoxThenCancel(setup, L"Quit Lumivance before installing, then choose Retry."), 1u);
    EXPECT_TRUE(setup.InstallerReport().empty());
    ExpectNothingLeft(setup);
}

TEST_F(EndToEnd, RetryRunsAWholeNewAttemptInANewStagingDirectory)
{
    Serve("drip signed");
    SetupRun setup;
    // The first attempt: the staging directory is there while the body drips in; the app starts meanwhile.
    const auto first = ui::WaitFor(
        [&]() -> std::optional<std::vector<std::filesystem::path>> {
            auto found = setup.StagingDirectories();
            return found.empty() ? std::nullopt : std::optional(std::move(found));
        },
        20s);
    ASSERT_TRUE(first && first->size() == 1u) << "no staging directory while the first download ran";
    ASSERT_TRUE(ui::WaitFor([] { return !RequestLines().empty(); }, 20s));
    auto app = std::make_unique<testing::RunningCopy>(setup.localAppData() / L"Lumivance" / L"Lumivance.exe");
    const auto box = setup.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"Quit Lumivance before installing, then choose Retry.");
    EXPECT_THAT(setup.StagingDirectories(), IsEmpty());

    // The user quits the app and retries: a fresh download into a new directory, and the installer runs.
    app.reset();
    Serve("exact signed");
    ui::Answer(*box, IDRETRY);
    EXPECT_EQ(setup.WaitForExit(), 0u);
    const auto report = setup.InstallerReport();
    ASSERT_FALSE(report.empty()) << "the second attempt did not start the installer";
    const std::filesystem::path second(report.at("current_directory"));
    EXPECT_EQ(second.parent_path(), setup.temp());
    EXPECT_NE(second.filename(), first->front().filename());
    EXPECT_THAT(RequestLines(), ElementsAre(kInstallerRequest, kInstallerRequest));
    ExpectNothingLeft(setup);
}

TEST_F(EndToEnd, TempFolderWithNonAsciiCharactersWorksAndIsCleaned)
{
    Serve("exact signed");
    SetupRun setup({.tempName = L"J\u00FCrgen \u65E5\u672C \u2603"});
    EXPECT_EQ(setup.WaitForExit(), 0u);
    const auto report = setup.InstallerReport();
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(std::filesystem::path(report.at("current_directory")).parent_path(), setup.temp())
        << ui::Narrow(report.at("current_directory"));
    ExpectNothingLeft(setup);
}

// A TEMP so deep that the staging file's path would be exactly MAX_PATH long, which CreateProcessW cannot
// start (under Wine 8: the whole download, then "Could not start installation."; once the staging directory
// reaches MAX_PATH, a hang), so setup must say so before it downloads anything.
TEST_F(EndToEnd, TempFolderTooDeepToStartTheInstallerFromFailsBeforeAnyRequest)
{
    Serve("exact signed");
    const testing::ScratchDirectory scratch(L"lumivance-e2e-deep");
    // "\\LumivanceSetup-{GUID}\\LumivanceSetup.exe" adds 73 characters to the temp folder.
    constexpr std::size_t kDepth = 260 - 73;
    std::wstring temp = scratch.path().wstring();
    while (kDepth - temp.size() > 21) {
        temp += L"\\" + std::wstring(20, L'd');
    }
    temp += L"\\" + std::wstring(kDepth - temp.size() - 1, L'd');
    std::filesystem::create_directories(temp);

    SetupRun setup({.temp = temp});
    EXPECT_EQ(ExpectBoxThenCancel(setup, L"Your TEMP folder's path is too long to install from. Set TEMP to a shorter "
                                         L"folder, then start Lumivance Setup again."),
              1u);
    EXPECT_THAT(RequestLines(), IsEmpty()) << "nothing may be downloaded that could not be started";
    ExpectNothingLeft(setup);
}

}  // namespace
}  // namespace lumivance::e2e
