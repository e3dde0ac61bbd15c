// Setup's attempt loop and single-instance guard, under Wine and Xvfb, around a scripted worker: Retry,
// the exit codes, and what a second copy does.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/windows/shell_harness.h"

namespace lumivance {
namespace {

using testing::ShellRun;
using testing::WatchUntilExit;
using ui::Narrow;
using namespace std::chrono_literals;

class ShellAttempts : public ::testing::Test {
protected:
    void SetUp() override { testing::RequireDisplay(); }
};

std::optional<ui::MessageBoxView> WaitForBox(ui::Program& program)
{
    ui::Screen last;
    auto box = ui::WaitFor([&] {
        last = program.Look();
        return last.messageBox;
    });
    EXPECT_TRUE(box) << "no message box; the screen:\n" << Narrow(last.Describe());
    return box;
}

TEST_F(ShellAttempts, RetryRunsAWholeNewAttemptFromTheResetState)
{
    ShellRun run(L"progress=80,phase=verify,error=First attempt failed.|"
                 L"await=second,progress=100,phase=install,exit=0");
    const auto box = WaitForBox(run.program());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"First attempt failed.");
    ASSERT_TRUE(ui::Answer(*box, IDRETRY));

    // A new dialog, from the start: download text, bar at 0.
    const auto second = ui::WaitFor([&]() -> std::optional<ui::ProgressDialogView> {
        const auto screen = run.program().Look();
        return screen.messageBox ? std::nullopt : screen.dialog;
    });
    ASSERT_TRUE(second);
    EXPECT_EQ(second->content, L"Downloading the right version for your PC\u2026");
    EXPECT_EQ(second->progress, 0);
    EXPECT_TRUE(second->cancelEnabled);
    run.Release(L"second");
    EXPECT_EQ(run.program().WaitForExit(), 0u);

    const auto starts = run.Events("start");
    ASSERT_EQ(starts.size(), 2u);
    for (const auto& start : starts) {
        EXPECT_EQ(start.fields.at("cancel"), "0");
        EXPECT_EQ(start.fields.at("finished"), "0");
        EXPECT_EQ(start.fields.at("progress"), "0");
        EXPECT_EQ(start.fields.at("phase"), "0");
        EXPECT_EQ(start.fields.at("exit"), "1");
        EXPECT_EQ(start.fields.at("error"), "");
    }
    EXPECT_NE(starts[0].fields.at("thread"), starts[1].fields.at("thread")) << "each attempt has its own worker";
}

TEST_F(ShellAttempts, CancelInTheBoxExitsWithTheInstallersCodeAfterAnInstallerFailure)
{
    // All 32 bits of the installer's code survive: 0x80070643 is MSI's "fatal error during installation".
    ShellRun run(
        L"phase=install,exit=2147944003,error=Lumivance could not be installed. Close Lumivance and try again.");
    const auto box = WaitForBox(run.program());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, L"Lumivance could not be installed. Close Lumivance and try again.");
    EXPECT_EQ(box->caption, L"Lumivance Setup");
    ui::Answer(*box, IDCANCEL);
    EXPECT_EQ(run.program().WaitForExit(), 0x80070643u);
}

TEST_F(ShellAttempts, ASecondCopyIsTurnedAwayAndTheFirstCarriesOn)
{
    ShellRun first(L"progress=10,await=go,progress=55,await=end,exit=0");
    const auto showing = [&first](int progress) {
        return ui::WaitFor([&]() -> std::optional<ui::ProgressDialogView> {
            auto dialog = first.program().Look().dialog;
            return dialog && dialog->progress == progress ? dialog : std::nullopt;
        });
    };
    const auto before = showing(10);
    ASSERT_TRUE(before);

    ShellRun second(L"exit=0");
    const auto box = WaitForBox(second.program());
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"Lumivance");
    EXPECT_EQ(box->text, L"Lumivance setup is already running.");
    EXPECT_EQ(box->buttons, std::vector<int>{IDOK});
    EXPECT_EQ(second.program().Look().dialogCount, 0);
    ui::Answer(*box, IDOK);
    EXPECT_EQ(second.program().WaitForExit(), 1u);
    EXPECT_TRUE(second.Events().empty()) << "the second copy must not start an attempt";

    // The first is undisturbed: same dialog, still following its worker, and it ends normally.
    first.Release(L"go");
    const auto after = showing(55);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->hwnd, before->hwnd);
    first.Release(L"end");
    EXPECT_EQ(first.program().WaitForExit(), 0u);
    EXPECT_EQ(first.Events("start").size(), 1u);
}

// As SYSTEM under a deployment tool, setup's window station has no visible surface: a box there would wait for
// ever, so each is answered as Cancel would be, and the exit code is the one Cancel would give.
TEST_F(ShellAttempts, OnAStationNobodySeesEveryBoxIsAnsweredAsCancel)
{
    const std::vector<std::pair<std::wstring, std::wstring>> unseen{{L"LUMIVANCE_FAKE_WINDOW_STATION_FLAGS", L"0"}};
    ShellRun first(L"phase=install,exit=3,error=Lumivance could not be installed. Close Lumivance and try again.|"
                   L"exit=0",
                   testing::FakeWorkerShellPath(), unseen);
    int boxesSeen = 0;
    const auto exitCode = WatchUntilExit(
        first.program(), [&](const ui::Screen& screen, std::uint64_t) { boxesSeen += screen.messageBox ? 1 : 0; });
    EXPECT_EQ(exitCode, 3u) << "the installer's code, as after Cancel in the box";
    EXPECT_EQ(boxesSeen, 0);
    EXPECT_EQ(first.Events("start").size(), 1u) << "no Retry";

    ShellRun holder(L"await=end,exit=0");
    ASSERT_TRUE(ui::WaitFor([&] { return holder.program().Look().dialog.has_value(); }));
    ShellRun second(L"exit=0", testing::FakeWorkerShellPath(), unseen);
    EXPECT_EQ(second.program().WaitForExit(), 1u) << "already running: exit 1 without the box";
    EXPECT_TRUE(second.Events().empty());
    holder.Release(L"end");
    EXPECT_EQ(holder.program().WaitForExit(), 0u);
}

TEST_F(ShellAttempts, TenCopiesStartedAtOnceRunExactlyOne)
{
    testing::ScratchDirectory shared(L"lumivance-ten");
    const auto environment = testing::WorkerEnvironment(L"await=go,exit=0", shared.path());
    std::vector<ui::Program> copies;
    copies.reserve(10);
    for (int i = 0; i < 10; ++i) {
        copies.emplace_back(testing::FakeWorkerShellPath(), ui::LaunchOptions{.environment = environment});
    }

    // Wait until every copy shows something: the one that runs its dialog, the others their box.
    std::vector<ui::Screen> screens(copies.size());
    const bool settled = ui::WaitFor(
        [&] {
            for (std::size_t i = 0; i < copies.size(); ++i) {
                screens[i] = copies[i].Look();
            }
            return std::all_of(screens.begin(), screens.end(),
                               [](const ui::Screen& s) { return s.dialog || s.messageBox; });
        },
        30s);
    ASSERT_TRUE(settled);

    int running = 0;
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (screens[i].dialog) {
            ++running;
            EXPECT_FALSE(screens[i].messageBox);
        } else {
            EXPECT_EQ(screens[i].messageBox->text, L"Lumivance setup is already running.");
            ui::Answer(*screens[i].messageBox, IDOK);
            EXPECT_EQ(copies[i].WaitForExit(), 1u);
        }
    }
    EXPECT_EQ(running, 1);
    std::ofstream(shared.path() / L"go").put('1');
    for (auto& copy : copies) {
        EXPECT_TRUE(copy.WaitForExit());
    }
    EXPECT_EQ(testing::ReadWorkerLog(shared.path()).size(), 2u) << "exactly one worker: its start and finish";
}

}  // namespace
}  // namespace lumivance
