// The progress dialog of setup's real shell, under Wine and Xvfb, around a scripted worker: what it shows
// in each phase, what Cancel and the other ways of dismissing it do, and when it closes.
#include <gtest/gtest.h>

#include "tests/windows/shell_harness.h"

namespace lumivance {
namespace {

using testing::ShellRun;
using testing::WatchUntilExit;
using ui::Narrow;
using namespace std::chrono_literals;

constexpr wchar_t kDownloading[] = L"Downloading the right version for your PC\u2026";
constexpr wchar_t kCanceling[] = L"Canceling\u2026";
constexpr wchar_t kVerifying[] = L"Verifying the download\u2026";
constexpr wchar_t kInstalling[] = L"Complete installation in the Lumivance setup window.";

class ShellDialog : public ::testing::Test {
protected:
    void SetUp() override { testing::RequireDisplay(); }
};

// The dialog once it shows what the predicate wants; fails the test with the screen it saw otherwise.
template <typename Wanted>
ui::ProgressDialogView WaitForDialog(ShellRun& run, Wanted wanted, const char* what)
{
    ui::Screen last;
    const auto found = ui::WaitFor([&]() -> std::optional<ui::ProgressDialogView> {
        last = run.program().Look();
        if (last.dialog && wanted(*last.dialog)) {
            return last.dialog;
        }
        return std::nullopt;
    });
    EXPECT_TRUE(found) << "no dialog " << what << "; the screen:\n" << Narrow(last.Describe());
    return found.value_or(ui::ProgressDialogView{});
}

ui::ProgressDialogView WaitForContent(ShellRun& run, const std::wstring& content)
{
    return WaitForDialog(
        run, [&](const ui::ProgressDialogView& d) { return d.content == content; },
        ("showing " + Narrow(content)).c_str());
}

TEST_F(ShellDialog, ShowsEachPhaseAndClosesOnFinishedWithCancelDisabled)
{
    ShellRun run(L"await=opened,progress=37,await=moved,phase=verify,await=verifying,phase=install,"
                 L"await=installing,exit=0");

    const auto opened = WaitForContent(run, kDownloading);
    EXPECT_EQ(opened.title, L"Lumivance Setup");
    EXPECT_EQ(opened.mainInstruction, L"Installing Lumivance");
    EXPECT_EQ(opened.progress, 0);
    EXPECT_TRUE(opened.cancelEnabled);
    ASSERT_EQ(run.program().Look().windows.size(), 1u);
    run.Release(L"opened");

    const auto moved = WaitForDialog(
        run, [](const auto& d) { return d.progress == 37; }, "at 37 %");
    EXPECT_EQ(moved.content, kDownloading);
    run.Release(L"moved");

    // The bar is driven only by progressPercent: it stays where the download left it.
    const auto verifying = WaitForContent(run, kVerifying);
    EXPECT_EQ(verifying.progress, 37);
    EXPECT_TRUE(verifying.cancelEnabled);
    EXPECT_EQ(verifying.mainInstruction, L"Installing Lumivance");
    run.Release(L"verifying");

    const auto installing = WaitForContent(run, kInstalling);
    EXPECT_FALSE(installing.cancelEnabled);
    EXPECT_EQ(installing.progress, 37);
    EXPECT_EQ(installing.title, L"Lumivance Setup");
    run.Release(L"installing");

    int boxes = 0;
    const auto exitCode = WatchUntilExit(
        run.program(), [&](const ui::Screen& screen, std::uint64_t) { boxes += screen.messageBoxCount; });
    EXPECT_EQ(exitCode, 0u) << "the dialog must close on finished although Cancel is disabled";
    EXPECT_EQ(boxes, 0) << "a successful run shows no box";
}

TEST_F(ShellDialog, CancelDuringDownloadShowsCancelingAndWaitsForTheWorker)
{
    ShellRun run(L"cleanup=1000,progress=25,await-cancel,check");
    const auto dialog = WaitForContent(run, kDownloading);
    ui::PressCancel(dialog);

    const auto canceling = WaitForContent(run, kCanceling);
    EXPECT_TRUE(canceling.cancelEnabled);
    EXPECT_EQ(canceling.progress, 25);
    ui::PressCancel(canceling);  // a second press changes nothing

    // What each sample showed, judged once the worker's log says when it finished: a sample read before
    // then must show the live dialog (one read later may catch it half torn down).
    std::vector<std::pair<std::uint64_t, std::optional<std::wstring>>> samples;
    int boxes = 0;
    const auto exitCode = WatchUntilExit(run.program(), [&](const ui::Screen& screen, std::uint64_t tick) {
        boxes += screen.messageBoxCount;
        samples.emplace_back(tick, screen.dialog ? std::optional(screen.dialog->content) : std::nullopt);
    });
    samples.emplace_back(GetTickCount64(), std::nullopt);  // gone by the exit at the latest
    EXPECT_EQ(exitCode, 1223u);
    EXPECT_EQ(boxes, 0) << "a cancel shows no box";

    const auto cancelled = run.Events("cancelled");
    const auto finished = run.Events("finished");
    ASSERT_EQ(cancelled.size(), 1u);
    ASSERT_EQ(finished.size(), 1u);
    std::uint64_t lastSeen = 0;
    for (const auto& [tick, content] : samples) {
        if (tick < finished[0].tick) {
            ASSERT_TRUE(content) << "the dialog closed before the worker had finished";
            EXPECT_EQ(*content, kCanceling);
        }
        if (content) {
            lastSeen = tick;
        }
    }
    EXPECT_GE(lastSeen, cancelled[0].tick + 800) << "the dialog must stay while the worker cleans up";
}

TEST_F(ShellDialog, CancelDuringVerificationKeepsTheVerificationText)
{
    ShellRun run(L"phase=verify,await-cancel,note,await=checked,check");
    ui::PressCancel(WaitForContent(run, kVerifying));

    ASSERT_TRUE(ui::WaitFor([&] { return !run.Events("note").empty(); })) << "the cancel never reached the worker";
    EXPECT_EQ(run.Events("note")[0].fields["cancel"], "1");
    // Some ticks later the text is still the verification's, and Cancel still enabled.
    Sleep(600);
    const auto still = run.program().Look().dialog;
    ASSERT_TRUE(still);
    EXPECT_EQ(still->content, kVerifying);
    EXPECT_TRUE(still->cancelEnabled);

    run.Release(L"checked");
    EXPECT_EQ(run.program().WaitForExit(), 1223u);
}

// Each way of dismissing the dialog must reach it as a cancel: otherwise the test below, which shows that
// none of them does anything while Installing, would pass without proving anything.
TEST_F(ShellDialog, EscapeAltF4CloseBoxAndWmCloseRequestACancelDuringDownload)
{
    const std::pair<const char*, void (*)(HWND)> ways[] = {
        {"Escape", ui::PressEscape},
        {"Alt+F4", ui::PressAltF4},
        {"close box", ui::ClickCloseBox},
        {"WM_CLOSE", ui::SendClose},
    };
    for (const auto& [name, dismiss] : ways) {
        SCOPED_TRACE(name);
        ShellRun run(L"await-cancel,check");
        dismiss(WaitForContent(run, kDownloading).hwnd);
        EXPECT_EQ(run.program().WaitForExit(), 1223u);
        EXPECT_EQ(run.Events("cancelled").size(), 1u);
    }
}

TEST_F(ShellDialog, WhileInstallingNothingClosesTheDialogOrRequestsACancel)
{
    ShellRun run(L"phase=install,await=tried,progress=88,await=done,note,exit=0");
    const auto dialog = WaitForContent(run, kInstalling);
    ASSERT_FALSE(dialog.cancelEnabled);

    ui::PressCancel(dialog);  // a disabled button takes no click
    ui::PressEscape(dialog.hwnd);
    ui::PressAltF4(dialog.hwnd);
    ui::ClickCloseBox(dialog.hwnd);
    ui::SendClose(dialog.hwnd);
    // Posted messages are handled before the next timer tick: once the bar shows 88, all of them are.
    run.Release(L"tried");
    const auto after = WaitForDialog(
        run, [](const auto& d) { return d.progress == 88; }, "at 88 %");
    EXPECT_EQ(after.hwnd, dialog.hwnd);
    EXPECT_EQ(after.content, kInstalling);
    EXPECT_FALSE(after.cancelEnabled);

    run.Release(L"done");
    EXPECT_EQ(run.program().WaitForExit(), 0u);
    const auto notes = run.Events("note");
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].fields.at("cancel"), "0") << "nothing may request a cancel while Installing";
}

TEST_F(ShellDialog, ClosesAtTheFirstTickAfterAFailureAndOnlyThenShowsTheBox)
{
    ShellRun run(L"progress=60,await=fail,error=Could not download Lumivance. Check your internet connection.");
    WaitForContent(run, kDownloading);
    run.Release(L"fail");

    bool overlapped = false;
    std::optional<ui::MessageBoxView> box;
    std::uint64_t boxSeenAt = 0;
    std::vector<std::pair<std::uint64_t, std::optional<std::wstring>>> samples;
    const auto exitCode = WatchUntilExit(run.program(), [&](const ui::Screen& screen, std::uint64_t tick) {
        overlapped |= screen.dialog && screen.messageBox;
        samples.emplace_back(tick, screen.dialog ? std::optional(screen.dialog->content) : std::nullopt);
        if (screen.messageBox && !box) {
            box = screen.messageBox;
            boxSeenAt = tick;
            ui::Answer(*box, IDCANCEL);
        }
    });
    EXPECT_FALSE(overlapped) << "the box must come only after the dialog has gone";
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, L"Lumivance Setup");
    EXPECT_EQ(box->text, L"Could not download Lumivance. Check your internet connection.");
    EXPECT_EQ(box->buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    EXPECT_EQ(exitCode, 1u) << "Cancel after a failure before the installer ran exits with 1";

    const auto finished = run.Events("finished");
    ASSERT_EQ(finished.size(), 1u);
    std::uint64_t goneAt = 0;
    for (const auto& [tick, content] : samples) {
        if (tick < finished[0].tick) {
            ASSERT_TRUE(content) << "the dialog closed before the worker had finished";
            EXPECT_EQ(*content, kDownloading);
        } else if (!content && goneAt == 0) {
            goneAt = tick;
        }
    }
    ASSERT_NE(goneAt, 0u);
    EXPECT_LE(goneAt, finished[0].tick + 1000) << "the dialog must close at the first tick after finished";
    EXPECT_GE(boxSeenAt, goneAt);
}

}  // namespace
}  // namespace lumivance
