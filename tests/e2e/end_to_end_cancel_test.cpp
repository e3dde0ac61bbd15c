// The user's Cancel and a second copy of setup, against a body that arrives one 64 KiB piece per second:
// slow enough that setup is certainly still downloading when the test acts, and that the worker is still
// busy when the dialog's next tick shows "Canceling…".
#include "tests/e2e/end_to_end_fixture.h"

namespace lumivance::e2e {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

TEST_F(EndToEnd, CancelDuringTheDownloadExitsWith1223AndNoBox)
{
    Serve("drip 20000000");
    SetupRun setup;
    const auto downloading =
        setup.WaitForDialog([](const auto& d) { return d.content == kDownloading && d.progress > 0; });
    ASSERT_TRUE(downloading) << "the download never showed progress";
    ui::PressCancel(*downloading);
    EXPECT_TRUE(setup.WaitForDialog([](const auto& d) { return d.content == L"Canceling\u2026"; }, 5s))
        << "the dialog should say it is canceling and stay open until the worker is done";
    EXPECT_EQ(setup.WaitForExit(), 1223u);
    EXPECT_EQ(setup.program().Look().messageBoxCount, 0);
    EXPECT_TRUE(setup.InstallerReport().empty());
    ExpectNothingLeft(setup);
}

TEST_F(EndToEnd, ADownloadLeftByAKilledSetupIsRemovedByTheNextSetup)
{
    Serve("drip 20000000");
    SetupRun killed;
    ASSERT_TRUE(killed.WaitForDialog([](const auto& d) { return d.content == kDownloading && d.progress > 0; }))
        << "the download never showed progress";
    killed.program().Terminate();  // Task Manager, a log-off, a power cut: no clean-up runs
    const auto left = killed.StagingDirectories();
    ASSERT_EQ(left.size(), 1u);
    ASSERT_TRUE(std::filesystem::exists(left.front() / L"LumivanceSetup.exe"));

    Serve("exact signed");
    SetupRun next({.temp = killed.temp()});
    EXPECT_EQ(next.WaitForExit(), 0u);
    ExpectNothingLeft(next);
}

TEST_F(EndToEnd, SecondCopySaysSetupIsRunningAndLeavesTheFirstAlone)
{
    Serve("drip 20000000");
    SetupRun first;
    ASSERT_TRUE(first.WaitForDialog([](const auto& d) { return d.content == kDownloading; }));
    SetupRun second;
    const auto box = second.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"Lumivance");
    EXPECT_EQ(box->text, L"Lumivance setup is already running.");
    ui::Answer(*box, IDOK);
    EXPECT_EQ(second.WaitForExit(), 1u);
    EXPECT_EQ(second.program().Look().dialogCount, 0);

    const auto still = first.WaitForDialog([](const auto& d) { return d.content == kDownloading; }, 2s);
    ASSERT_TRUE(still) << "the first setup was disturbed";
    ui::PressCancel(*still);
    EXPECT_EQ(first.WaitForExit(), 1223u);
    EXPECT_THAT(RequestLines(), ElementsAre(kInstallerRequest));
}

}  // namespace
}  // namespace lumivance::e2e
