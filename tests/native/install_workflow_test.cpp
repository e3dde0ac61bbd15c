#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "base/cancelled.h"
#include "tests/native/fake_system.h"
#include "worker/install_workflow.h"
#include "worker/release_table.h"

namespace lumivance {
namespace {

using ::testing::ElementsAre;
using testing::FakeSystem;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

struct Outcome {
    std::wstring errorText;
    std::uint32_t exitCode;
    InstallPhase phase;
};

Outcome RunAttempt(FakeSystem& fake, InstallState& state)
{
    RunInstallWith(state, fake);
    EXPECT_TRUE(state.finished.load()) << "finished must be set on every path";
    return {state.errorText, state.exitCode, state.phase.load()};
}

Outcome RunAttempt(FakeSystem& fake)
{
    InstallState state;
    return RunAttempt(fake, state);
}

const std::filesystem::path kStaging = "/fake-temp/LumivanceSetup-{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}";

// What the workflow appends to the temp folder: "/LumivanceSetup-{GUID}/LumivanceSetup.exe".
constexpr std::size_t kStagingTail = 1 + 53 + 1 + 18;

std::filesystem::path TempOfLength(std::size_t length)
{
    return "/" + std::string(length - 1, 't');
}

// The fake marks verify and launchAndWait "(unlocked)" when the staging file is not locked then, and lockFile
// "(response open)" while the download's response is still held: the plain names say the file stays locked
// from the download to the installer's exit; the staging object is released only after its removal.
TEST(InstallWorkflow, SucceedsWithTheInstallersZeroAndCleansUp)
{
    FakeSystem fake;
    const Outcome outcome = RunAttempt(fake);
    EXPECT_EQ(outcome.errorText, L"");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(outcome.phase, InstallPhase::Installing);
    EXPECT_THAT(fake.calls, ElementsAre("isAppRunning", "selectReleaseAsset", "newGuidText", "tempDirectory",
                                        "createStaging", "expectedInstallerPaths", "download", "lockFile", "verify",
                                        "isAppRunning", "launchAndWait", "remove", "releaseStaging"));
    // The file is made only after the server's 200.
    EXPECT_THAT(fake.downloadSteps, ElementsAre("open", "new file", "receive", "close response"));
}

TEST(InstallWorkflow, NamesTheStagingDirectoryAndFileAndPassesTheReleaseThrough)
{
    FakeSystem fake;
    RunAttempt(fake);
    EXPECT_EQ(fake.createdDirectory, kStaging);
    EXPECT_THAT(fake.removed, ElementsAre(kStaging));
    // The same compiled-in row, by reference, to the download and to the verification.
    EXPECT_EQ(fake.downloadedRow, &FakeSystem::kRow);
    EXPECT_EQ(fake.verifiedRow, &FakeSystem::kRow);
    EXPECT_EQ(fake.downloadHost, std::wstring(kDownloadHost));
    EXPECT_EQ(fake.downloadPort, kDownloadPort);
}

TEST(InstallWorkflow, ApplicationRunningAtStartStopsBeforeAnythingIsCreated)
{
    FakeSystem fake;
    fake.appRunningAnswers = {true};
    const Outcome outcome = RunAttempt(fake);
    EXPECT_EQ(outcome.errorText, L"Quit Lumivance before installing, so any recording can finish. Then choose Retry.");
    EXPECT_EQ(outcome.exitCode, 1u);
    EXPECT_EQ(outcome.phase, InstallPhase::Downloading);
    EXPECT_THAT(fake.calls, ElementsAre("isAppRunning"));
}

// Failures before the staging directory's path exists: the sentence (or the library's own message), exit
// code 1, and nothing to remove.
TEST(InstallWorkflow, EarlyFailuresLeaveNothingBehind)
{
    struct Case {
        const char* name;
        std::function<void(FakeSystem&)> arrange;
        std::wstring expected;
        std::vector<std::string> calls;
    };
    const std::filesystem::filesystem_error tempError("temp_directory_path",
                                                      std::make_error_code(std::errc::no_such_file_or_directory));
    const std::vector<Case> cases{
        {"running check fails",
         [](FakeSystem& f) {
             f.onAppRunningCheck = [] {
                 throw std::runtime_error("Could not check whether Lumivance is running. Please try again.");
             };
         },
         L"Could not check whether Lumivance is running. Please try again.",
         {"isAppRunning"}},
        {"unsupported machine",
         [](FakeSystem& f) {
             f.onSelect = [] {
                 throw std::runtime_error("Lumivance requires 64-bit Windows on an Intel, AMD, or ARM processor.");
             };
         },
         L"Lumivance requires 64-bit Windows on an Intel, AMD, or ARM processor.",
         {"isAppRunning", "selectReleaseAsset"}},
        {"no GUID",
         [](FakeSystem& f) { f.guidFails = true; },
         L"Could not prepare installation.",
         {"isAppRunning", "selectReleaseAsset", "newGuidText"}},
        {"no temp folder",
         [&](FakeSystem& f) { f.onTempDirectory = [&] { throw tempError; }; },
         std::wstring(tempError.what(), tempError.what() + std::strlen(tempError.what())),
         {"isAppRunning", "selectReleaseAsset", "newGuidText", "tempDirectory"}},
        // The staging file would be 260 characters: CreateProcessW could never start it, so nothing is made
        // or downloaded.
        {"temp folder too deep to start the installer from",
         [](FakeSystem& f) { f.temp = TempOfLength(260 - kStagingTail); },
         L"Your TEMP folder's path is too long to install from. Set TEMP to a shorter folder, then start Lumivance "
         L"Setup again.",
         {"isAppRunning", "selectReleaseAsset", "newGuidText", "tempDirectory"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem fake;
        c.arrange(fake);
        const Outcome outcome = RunAttempt(fake);
        EXPECT_EQ(outcome.errorText, c.expected);
        EXPECT_EQ(outcome.exitCode, 1u);
        EXPECT_EQ(fake.calls, c.calls);
        EXPECT_THAT(fake.removed, IsEmpty());
    }
}

// Creation fails for a name that already exists, and for a directory that is not as setup made it.
TEST(InstallWorkflow, DirectoryThatCouldNotBeCreatedIsNotRemoved)
{
    FakeSystem fake;
    fake.onCreateStaging = [] { throw std::runtime_error("Could not prepare installation."); };
    const Outcome outcome = RunAttempt(fake);
    EXPECT_EQ(outcome.errorText, L"Could not prepare installation.");
    EXPECT_EQ(outcome.exitCode, 1u);
    EXPECT_EQ(fake.Count("download"), 0u);
    EXPECT_THAT(fake.removed, IsEmpty()) << "somebody else's directory must survive";
}

// Failures once the staging directory exists: the message, exit code 1 or the installer's code, and the
// directory removed.
TEST(InstallWorkflow, LaterFailuresReportTheirSentenceAndRemoveTheDirectory)
{
    struct Case {
        const char* name;
        std::function<void(FakeSystem&)> arrange;
        std::wstring expected;
        std::uint32_t exitCode;
        InstallPhase phase;
        bool launched;
    };
    const std::vector<Case> cases{
        {"download fails",
         [](FakeSystem& f) {
             f.onDownload = [](InstallState&) {
                 throw std::runtime_error("The installer is temporarily unavailable. Please try again shortly.");
             };
         },
         L"The installer is temporarily unavailable. Please try again shortly.", 1, InstallPhase::Downloading, false},
        {"staging directory's place cannot be read", [](FakeSystem& f) { f.directoryFinalPath.reset(); },
         L"Could not prepare installation.", 1, InstallPhase::Downloading, false},
        // TEMP is short, but it leads (a link, a short name) to a place too deep to start the installer from.
        {"staging directory's real place too deep",
         [](FakeSystem& f) { f.directoryFinalPath = L"C:\\" + std::wstring(260 - 3 - 19, L'd'); },
         L"Your TEMP folder's path is too long to install from. Set TEMP to a shorter folder, then start Lumivance "
         L"Setup again.",
         1, InstallPhase::Downloading, false},
        // A TEMP path Windows would rewrite, or a network drive while elevated: said before any request.
        {"staging directory's paths would start something else",
         [](FakeSystem& f) {
             f.startRefusal = "Your TEMP folder's path cannot be used to start the installer.";
             f.onDownload = [](InstallState&) { throw std::logic_error("downloaded what could not be started"); };
         },
         L"Your TEMP folder's path cannot be used to start the installer.", 1, InstallPhase::Downloading, false},
        {"staging file cannot be locked", [](FakeSystem& f) { f.lockFailures = 1000; },
         L"The download is in use by another program. Please try again.", 1, InstallPhase::Downloading, false},
        {"verification fails",
         [](FakeSystem& f) {
             f.onVerify = [] {
                 throw std::runtime_error("Windows could not verify Lumivance's signature. Check your internet "
                                          "connection and Windows updates, then try again.");
             };
         },
         L"Windows could not verify Lumivance's signature. Check your internet connection and Windows updates, "
         L"then try again.",
         1, InstallPhase::Verifying, false},
        {"application started during the download",
         [](FakeSystem& f) {
             f.appRunningAnswers = {false, true};
         },
         L"Quit Lumivance before installing, then choose Retry.", 1, InstallPhase::Installing, false},
        {"second running check fails",
         [](FakeSystem& f) {
             f.onAppRunningCheck = [&f] {
                 if (f.Count("isAppRunning") == 2) {
                     throw std::runtime_error("Could not check whether Lumivance is running. Please try again.");
                 }
             };
         },
         L"Could not check whether Lumivance is running. Please try again.", 1, InstallPhase::Installing, false},
        {"installer cannot be started", [](FakeSystem& f) { f.launchFails = true; },
         L"Could not start installation. Please try again.", 1, InstallPhase::Installing, true},
        {"installer exits with 3", [](FakeSystem& f) { f.installerExitCode = 3; },
         L"Lumivance could not be installed. Close Lumivance and try again.", 3, InstallPhase::Installing, true},
        {"installer exits with 1602", [](FakeSystem& f) { f.installerExitCode = 1602; },
         L"Lumivance could not be installed. Close Lumivance and try again.", 1602, InstallPhase::Installing, true},
        {"installer exits with 1", [](FakeSystem& f) { f.installerExitCode = 1; },
         L"Lumivance could not be installed. Close Lumivance and try again.", 1, InstallPhase::Installing, true},
        {"installer crashes", [](FakeSystem& f) { f.installerExitCode = 0xC0000005u; },
         L"Lumivance could not be installed. Close Lumivance and try again.", 0xC0000005u, InstallPhase::Installing,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem fake;
        c.arrange(fake);
        const Outcome outcome = RunAttempt(fake);
        EXPECT_EQ(outcome.errorText, c.expected);
        EXPECT_EQ(outcome.exitCode, c.exitCode);
        EXPECT_EQ(outcome.phase, c.phase);
        EXPECT_EQ(fake.Count("launchAndWait"), c.launched ? 1u : 0u);
        EXPECT_THAT(fake.removed, ElementsAre(kStaging));
        ASSERT_GE(fake.calls.size(), 2u);
        EXPECT_THAT(std::vector(fake.calls.end() - 2, fake.calls.end()), ElementsAre("remove", "releaseStaging"))
            << "the staging object goes only after its removal";
    }
}

// Judged on the temp folder's path before anything is made, and on the directory's real place after.
TEST(InstallWorkflow, StagingFileOneShortOfMaxPathIsStillStarted)
{
    {
        FakeSystem fake;
        fake.temp = TempOfLength(259 - kStagingTail);
        EXPECT_EQ(RunAttempt(fake).exitCode, 0u);
        EXPECT_EQ(fake.Count("launchAndWait"), 1u);
    }
    {
        FakeSystem fake;
        fake.directoryFinalPath = L"C:\\" + std::wstring(259 - 3 - 19, L'd');
        EXPECT_EQ(RunAttempt(fake).exitCode, 0u);
        EXPECT_EQ(fake.Count("launchAndWait"), 1u);
    }
}

TEST(InstallWorkflow, ExitCodeThatCannotBeReadCountsAsFailure)
{
    FakeSystem fake;
    fake.exitCodeUnread = true;
    const Outcome outcome = RunAttempt(fake);
    EXPECT_EQ(outcome.errorText, L"Lumivance could not be installed. Close Lumivance and try again.");
    EXPECT_EQ(outcome.exitCode, 1u);
}

// A cancel seen during the download: whether the download throws or returns, nothing is verified or started.
TEST(InstallWorkflow, CancelEndsWith1223AndNoMessageWhereverItIsSeen)
{
    struct Case {
        const char* name;
        std::function<void(FakeSystem&)> arrange;
    };
    const std::vector<Case> cases{
        {"inside the download",
         [](FakeSystem& f) {
             f.onDownload = [](InstallState& s) {
                 s.cancelRequested.exchange(true);
                 throw Cancelled{};
             };
         }},
        {"after the download returned",
         [](FakeSystem& f) { f.onDownload = [](InstallState& s) { s.cancelRequested.exchange(true); }; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSystem fake;
        c.arrange(fake);
        const Outcome outcome = RunAttempt(fake);
        EXPECT_EQ(outcome.errorText, L"");
        EXPECT_EQ(outcome.exitCode, 1223u);
        EXPECT_EQ(outcome.phase, InstallPhase::Downloading);
        EXPECT_EQ(fake.Count("verify"), 0u);
        EXPECT_EQ(fake.Count("launchAndWait"), 0u);
        EXPECT_THAT(fake.removed, ElementsAre(kStaging));
    }
}

TEST(InstallWorkflow, CancelDuringVerificationLetsItFinishAndStopsBeforeTheLaunch)
{
    FakeSystem fake;
    InstallState state;
    fake.onVerify = [&] {
        EXPECT_EQ(state.phase.load(), InstallPhase::Verifying);
        state.cancelRequested.exchange(true);
    };
    const Outcome outcome = RunAttempt(fake, state);
    EXPECT_EQ(outcome.exitCode, 1223u);
    EXPECT_EQ(outcome.errorText, L"");
    EXPECT_EQ(outcome.phase, InstallPhase::Installing);
    EXPECT_EQ(fake.Count("isAppRunning"), 1u) << "the cancel check comes before the second running check";
    EXPECT_EQ(fake.Count("launchAndWait"), 0u);
}

TEST(InstallWorkflow, CancelOnceTheInstallerRunsIsNeverLookedAt)
{
    FakeSystem fake;
    InstallState state;
    fake.onLaunch = [&] { state.cancelRequested.exchange(true); };
    const Outcome outcome = RunAttempt(fake, state);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(outcome.errorText, L"");
}

TEST(InstallWorkflow, FinishedIsSetOnlyAfterTheRemoval)
{
    FakeSystem fake;
    InstallState state;
    bool finishedDuringRemoval = true;
    bool finishedAtRelease = true;  // the directory itself goes when the hold is released
    fake.onRemove = [&] { finishedDuringRemoval = state.finished.load(); };
    fake.onStagingReleased = [&] { finishedAtRelease = state.finished.load(); };
    RunAttempt(fake, state);
    EXPECT_FALSE(finishedDuringRemoval);
    EXPECT_FALSE(finishedAtRelease);
}

// A scanner that holds the new file, or an oplock of its still being broken, makes the lock fail for a moment.
TEST(InstallWorkflow, LockIsRetriedForAboutTwoSecondsLikeTheRemoval)
{
    {
        FakeSystem fake;
        fake.lockFailures = 9;  // lets go just before the last try
        EXPECT_EQ(RunAttempt(fake).exitCode, 0u);
        EXPECT_EQ(fake.Count("lockFile"), 10u);
        EXPECT_EQ(fake.Count("verify"), 1u) << "verified only once locked";
        EXPECT_EQ(fake.pauses, std::vector<std::chrono::milliseconds>(9, 200ms));
    }
    {
        FakeSystem fake;
        fake.lockFailures = 10;
        EXPECT_EQ(RunAttempt(fake).errorText, L"The download is in use by another program. Please try again.");
        EXPECT_EQ(fake.Count("lockFile"), 10u);
        EXPECT_EQ(fake.Count("verify(unlocked)") + fake.Count("verify"), 0u);
    }
}

TEST(InstallWorkflow, RemovalIsRetriedForAboutTwoSecondsThenGivenUpQuietly)
{
    {
        FakeSystem fake;
        fake.removalFailures = 3;  // a scanner lets go after a moment
        const Outcome outcome = RunAttempt(fake);
        EXPECT_EQ(outcome.exitCode, 0u);
        EXPECT_EQ(fake.removed.size(), 4u);
        EXPECT_THAT(fake.pauses, ElementsAre(200ms, 200ms, 200ms));
    }
    {
        FakeSystem fake;
        fake.removalFailures = 1000;  // never lets go
        fake.installerExitCode = 3;
        const Outcome outcome = RunAttempt(fake);
        EXPECT_EQ(outcome.exitCode, 3u) << "a failed removal does not change the outcome";
        EXPECT_EQ(outcome.errorText, L"Lumivance could not be installed. Close Lumivance and try again.");
        EXPECT_EQ(fake.removed.size(), 10u);
        std::chrono::milliseconds total{0};
        for (const auto pause : fake.pauses) {
            total += pause;
        }
        EXPECT_LE(total, 2000ms);
    }
    {
        FakeSystem fake;
        fake.onRemove = [] { throw std::bad_alloc(); };
        const Outcome outcome = RunAttempt(fake);  // Run checks that finished is still set
        EXPECT_EQ(outcome.exitCode, 0u);
    }
}

TEST(InstallWorkflow, AttemptAfterAFailureStartsFromTheResetRecord)
{
    InstallState state;
    {
        FakeSystem fake;
        fake.installerExitCode = 3;
        RunAttempt(fake, state);
    }
    ResetForAttempt(state);
    EXPECT_FALSE(state.finished.load());
    EXPECT_FALSE(state.cancelRequested.load());
    EXPECT_EQ(state.progressPercent.load(), 0);
    EXPECT_EQ(state.phase.load(), InstallPhase::Downloading);
    FakeSystem fake;
    fake.guidText = L"{11111111-2222-3333-4444-555555555555}";
    const Outcome outcome = RunAttempt(fake, state);
    EXPECT_EQ(outcome.errorText, L"");
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(fake.createdDirectory.filename(), "LumivanceSetup-{11111111-2222-3333-4444-555555555555}");
}

TEST(InstallWorkflow, NonAsciiLibraryMessagesKeepTheirCharacters)
{
    FakeSystem fake;
    fake.onVerify = [] { throw std::runtime_error("file_size: No such file [C:\\Users\\J\xC3\xBCrgen\\x]"); };
    EXPECT_EQ(RunAttempt(fake).errorText, L"file_size: No such file [C:\\Users\\J\u00FCrgen\\x]");
}

}  // namespace
}  // namespace lumivance
