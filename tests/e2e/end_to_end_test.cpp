// The whole program, as a user meets it: the real LumivanceWebSetup.exe under Wine and Xvfb, downloading
// from the loopback test host over real TLS, verifying with the real CNG and WinTrust, starting a real
// (fake) installer, watched and answered through the UI driver. Each test runs its own setup with its own
// temp folder, so "nothing left behind" is checked where setup actually worked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <thread>

#include "base/unique_resource_win.h"
#include "tests/e2e/end_to_end_fixture.h"
#include "tests/windows/running_copy.h"

namespace lumivance::e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

std::vector<std::filesystem::path> EntriesOf(const std::filesystem::path& folder)
{
    std::vector<std::filesystem::path> entries;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        entries.push_back(entry.path());
    }
    return entries;
}

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

// Installers commonly start the application as they finish. It inherits the staging directory as its
// current directory and holds it, without delete sharing, for as long as it runs, so the directory cannot go
// then; the installer in it can, and must, at once. The next setup removes the empty directory once that
// program has ended, however soon after.
TEST_F(EndToEnd, AnAppTheInstallerStartsLeavesAtMostAnEmptyDirectoryThatTheNextSetupRemoves)
{
    Serve("exact signed");
    SetupRun setup({.installerStarts = L"\"" + testing::ToolPath(L"idle_app.exe").wstring() + L"\" 20000"});
    const auto box = setup.WaitForBox(20s);
    EXPECT_FALSE(box) << ui::Narrow(box ? box->text : L"");
    if (box) {
        ui::Answer(*box, IDCANCEL);
    }
    EXPECT_EQ(setup.WaitForExit(), 0u);
    FILETIME exited{};
    GetSystemTimePreciseAsFileTime(&exited);

    const auto report = setup.InstallerReport();
    ASSERT_FALSE(report.empty()) << "the installer never ran";
    // The installer ends as soon as it has started the app; what comes after is setup's clean-up and exit.
    const ULONGLONG exitedTicks = (static_cast<ULONGLONG>(exited.dwHighDateTime) << 32) | exited.dwLowDateTime;
    const auto afterInstaller =
        std::chrono::milliseconds((exitedTicks - std::stoull(testing::ToUtf8(report.at("started")))) / 10'000);
    EXPECT_LT(afterInstaller, 1000ms) << "setup exited " << afterInstaller.count()
                                      << " ms after the installer started: it must not wait for the directory";
    const auto pid = static_cast<DWORD>(std::stoul(testing::ToUtf8(report.at("started_pid"))));
    const KernelHandle app(pid == 0 ? nullptr : OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid));
    ASSERT_TRUE(app) << "the installer did not start the app";
    const std::filesystem::path staging(report.at("current_directory"));
    EXPECT_FALSE(std::filesystem::exists(staging / L"LumivanceSetup.exe")) << "the installer stays in TEMP";
    const auto left = setup.StagingDirectories();
    EXPECT_LE(left.size(), 1u);
    for (const auto& directory : left) {
        EXPECT_EQ(directory.filename(), staging.filename());
        EXPECT_THAT(EntriesOf(directory), IsEmpty()) << "more than the empty directory stays";
    }
    ASSERT_EQ(WaitForSingleObject(app.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the app had ended before the directory was looked at, so nothing held it";

    TerminateProcess(app.get(), 0);  // the user quits the app
    ASSERT_EQ(WaitForSingleObject(app.get(), 10'000), static_cast<DWORD>(WAIT_OBJECT_0));
    Serve("exact signed");
    SetupRun next({.temp = setup.temp()});
    EXPECT_EQ(next.WaitForExit(), 0u);
    ExpectNothingLeft(next);
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

// A link to a folder of somebody's choosing, planted in the staging directory while the body drips in, as
// a process let into the directory could (a Unix link, which Wine shows as a reparse point and would
// follow): the clean-up deletes setup's own file, leaves the link and with it the directory, and never
// reaches into the folder, after an install and after a download that failed its check.
TEST_F(EndToEnd, ALinkPlantedDuringTheDownloadLeavesItsTargetUntouched)
{
    struct Case {
        const char* scenario;
        const wchar_t* sentence;  // none: the install succeeds
    };
    const Case cases[] = {
        {"drip signed", nullptr},
        {"drip patched", L"The download could not be verified. Nothing was installed. Please try again."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scenario);
        const testing::ScratchDirectory target(L"lumivance-e2e-target");
        std::ofstream(target.path() / L"precious.txt") << "keep me";
        Serve(c.scenario);
        SetupRun setup;
        const auto staging = ui::WaitFor(
            [&]() -> std::optional<std::filesystem::path> {
                const auto found = setup.StagingDirectories();
                return found.empty() ? std::nullopt : std::optional(found.front());
            },
            20s);
        ASSERT_TRUE(staging) << "no staging directory while the download ran";
        ASSERT_EQ(testing::PlantUnixLink(target.path(), *staging / L"link"), "");
        if (c.sentence == nullptr) {
            EXPECT_EQ(setup.WaitForExit(), 0u);
        } else {
            EXPECT_EQ(ExpectBoxThenCancel(setup, c.sentence), 1u);
        }
        EXPECT_EQ(testing::ReadFileBytes(target.path() / L"precious.txt"), "keep me");
        EXPECT_THAT(setup.StagingDirectories(), ElementsAre(*staging)) << "the link keeps its directory";
        EXPECT_FALSE(std::filesystem::exists(*staging / L"LumivanceSetup.exe")) << "setup's own file goes";
        EXPECT_EQ(testing::RemoveUnixLink(*staging / L"link"), "");
    }
}

// TEMP may lawfully be a link, and a process of the user can re-point it while an elevated setup works: at
// a folder of its own holding a look-alike staging directory of the same name, with its own program as the
// installer. Once the staging directory is made, setup must never look anything up through TEMP again: it
// starts the file it downloaded and verified, from where that file really is, and the look-alike never
// runs. Each row re-points at one step between the end of the download and the launch (the large installer
// keeps the dialog on "Verifying" for several ticks).
TEST_F(EndToEnd, TempRepointedAtALookAlikeAfterTheDownloadStillStartsWhatWasVerified)
{
    struct Case {
        const char* step;
        const char* scenario;
        const wchar_t* content;  // the dialog text to re-point at; none: while the host holds the body's end
    };
    const Case cases[] = {
        {"as the body ends", "gate large", nullptr},
        {"while verifying", "exact large", kVerifying},
        {"while installing", "exact large", kInstalling},
    };
    const std::string lookalikeProgram = testing::ReadFileBytes(testing::ToolPath(L"lookalike_installer.exe"));
    ASSERT_FALSE(lookalikeProgram.empty());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        const testing::ScratchDirectory real(L"lumivance-e2e-real"), other(L"lumivance-e2e-other"),
            links(L"lumivance-e2e-links");
        const std::filesystem::path temp = links.path() / L"temp";
        ASSERT_EQ(testing::PlantUnixLink(real.path(), temp), "");
        const std::filesystem::path realFinal = testing::FinalPathOf(real.path());
        Serve(c.scenario);
        SetupRun setup({.pinned = Pinned::Large, .installerWaitMs = 1000, .temp = temp});
        const auto staging = ui::WaitFor(
            [&]() -> std::optional<std::filesystem::path> {
                const auto found = EntriesOf(real.path());
                return found.empty() ? std::nullopt : std::optional(found.front());
            },
            20s);
        ASSERT_TRUE(staging) << "no staging directory while the download ran";
        const std::filesystem::path lookalike = other.path() / staging->filename();
        std::filesystem::create_directory(lookalike);
        std::ofstream(lookalike / L"LumivanceSetup.exe", std::ios::binary) << lookalikeProgram;

        const bool atTheStep =
            c.content == nullptr
                ? ui::WaitFor(BodyEndHeld, 20s)
                : setup.WaitForDialog([&](const auto& d) { return d.content == c.content; }).has_value();
        if (!atTheStep) {
            ADD_FAILURE() << "setup never reached the step (the host's gate or the dialog's text)";
            continue;
        }
        ASSERT_EQ(testing::RepointUnixLink(other.path(), temp), "");
        if (c.content == nullptr) {
            ReleaseBodyEnd();
        }

        const auto box = setup.WaitForBox(30s);
        EXPECT_FALSE(box) << ui::Narrow(box ? box->text : L"");
        if (box) {
            ui::Answer(*box, IDCANCEL);
        }
        EXPECT_EQ(setup.WaitForExit(), 0u);
        const auto stranger = setup.LookalikeReport();
        EXPECT_THAT(stranger, IsEmpty()) << "the look-alike ran from "
                                         << ui::Narrow(stranger.contains("image") ? stranger.at("image") : L"");
        const auto report = setup.InstallerReport();
        EXPECT_FALSE(report.empty()) << "setup's own installer never ran";
        if (!report.empty()) {
            // Started by where the verified file really is, as read from its handle, not through TEMP.
            const std::filesystem::path started = realFinal / staging->filename();
            EXPECT_EQ(report.at("current_directory"), started.wstring());
            EXPECT_EQ(report.at("command_line"), L"\"" + (started / L"LumivanceSetup.exe").wstring() + L"\"");
        }
        EXPECT_THAT(EntriesOf(real.path()), IsEmpty()) << "setup left its own behind";
        EXPECT_THAT(EntriesOf(other.path()), ElementsAre(lookalike));
        EXPECT_THAT(EntriesOf(lookalike), ElementsAre(lookalike / L"LumivanceSetup.exe"));
        EXPECT_EQ(testing::ReadFileBytes(lookalike / L"LumivanceSetup.exe"), lookalikeProgram);
        EXPECT_EQ(testing::RemoveUnixLink(temp), "");
    }
}

// Windows drops a dot that ends a folder's name from every plain path, while NTFS keeps "x." beside "x":
// with TEMP a link to "x.", the plain path to setup's staging directory names "x\LumivanceSetup-{GUID}",
// where a process of the user can put a signed program of its own as soon as it sees the new name in "x.".
// (Under Wine the final path read from the handle already loses the dot.) Setup must either start what it
// verified or refuse before any request; the look-alike never runs.
TEST_F(EndToEnd, TempThroughALinkToAFolderEndingInADotNeverStartsTheLookAlikeBesideIt)
{
    const std::string lookalikeProgram = testing::ReadFileBytes(testing::ToolPath(L"lookalike_installer.exe"));
    ASSERT_FALSE(lookalikeProgram.empty());
    const testing::ScratchDirectory scratch(L"lumivance-e2e-dot");
    // Only a "\\?\" path keeps the dot.
    const std::filesystem::path dotted = L"\\\\?\\" + (scratch.path() / L"x.").wstring();
    ASSERT_TRUE(CreateDirectoryW(dotted.c_str(), nullptr)) << "error " << GetLastError();
    const std::filesystem::path sibling = scratch.path() / L"x";
    ASSERT_TRUE(std::filesystem::create_directory(sibling));
    const std::filesystem::path temp = scratch.path() / L"temp";
    ASSERT_EQ(testing::PlantUnixLink(dotted, temp), "");

    Serve("drip signed");
    SetupRun setup({.installerWaitMs = 500, .temp = temp});
    // Setup may refuse before the directory is seen; then there is nothing to plant beside.
    std::optional<std::filesystem::path> staging;
    ui::WaitFor(
        [&] {
            const auto found = EntriesOf(temp);
            staging = found.empty() ? std::nullopt : std::optional(found.front());
            return staging.has_value() || setup.program().Look().messageBoxCount > 0;
        },
        10s);
    if (staging) {
        const std::filesystem::path lookalike = sibling / staging->filename();
        std::filesystem::create_directory(lookalike);
        std::ofstream(lookalike / L"LumivanceSetup.exe", std::ios::binary) << lookalikeProgram;
    }

    const auto box = setup.WaitForBox(60s);
    if (box) {
        EXPECT_EQ(box->text, L"Your TEMP folder's path cannot be used to start the installer. Set TEMP to a folder "
                             L"whose names do not end in a dot or a space, then start Lumivance Setup again.");
        EXPECT_THAT(RequestLines(), IsEmpty()) << "refused only after a request";
        ui::Answer(*box, IDCANCEL);
        EXPECT_EQ(setup.WaitForExit(), 1u);
        EXPECT_TRUE(setup.InstallerReport().empty());
    } else {
        EXPECT_EQ(setup.WaitForExit(), 0u);
        EXPECT_FALSE(setup.InstallerReport().empty()) << "setup's own installer never ran";
    }
    const auto stranger = setup.LookalikeReport();
    EXPECT_THAT(stranger, IsEmpty()) << "the look-alike ran from "
                                     << ui::Narrow(stranger.contains("image") ? stranger.at("image") : L"");
    EXPECT_THAT(EntriesOf(temp), IsEmpty()) << "setup left its own behind";
    EXPECT_EQ(testing::RemoveUnixLink(temp), "");
    std::filesystem::remove_all(sibling);
    RemoveDirectoryW(dotted.c_str());
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

// FAT32, exFAT and many RAM disks keep no permissions: every entry there is open to everyone, whatever
// setup asks for, so an elevated setup's staging directory would be open to the user's unelevated processes.
// Wine runs every process elevated, so this is the elevated outcome: the one fix named, before any request.
// The folder is a bindfs view that shows every entry as open to everyone and ignores chmod and chown, which
// is how Wine sees such a drive; ctest mounts it around this test (PermissionlessTemp.*).
TEST_F(EndToEnd, TempOnADriveThatKeepsNoPermissionsIsRefusedBeforeAnyRequest)
{
    const std::wstring view = testing::EnvironmentValue(L"LUMIVANCE_PERMISSIONLESS_TEMP");
    ASSERT_FALSE(view.empty()) << "LUMIVANCE_PERMISSIONLESS_TEMP is unset: run this test through ctest, which mounts "
                                  "the view (PermissionlessTemp.Mount)";
    Serve("exact signed");
    SetupRun setup({.temp = std::filesystem::path(L"Z:" + view).make_preferred()});
    EXPECT_EQ(ExpectBoxThenCancel(setup, L"Your TEMP folder is on a drive that cannot protect the installer. Set TEMP "
                                         L"to a folder on an NTFS drive, then start Lumivance Setup again."),
              1u);
    EXPECT_THAT(RequestLines(), IsEmpty()) << "nothing may be downloaded that could not be protected";
    ExpectNothingLeft(setup);
}

}  // namespace
}  // namespace lumivance::e2e
