// What the progress dialog shows and does for every state of an attempt: each row of the dialog's state
// table, for every phase, with and without a cancel, before and after the worker has finished.
#include <gtest/gtest.h>

#include <string>

#include "app/progress_dialog.h"

namespace lumivance {
namespace {

constexpr wchar_t kDownloading[] = L"Downloading the right version for your PC\u2026";
constexpr wchar_t kCanceling[] = L"Canceling\u2026";
constexpr wchar_t kVerifying[] = L"Verifying the download\u2026";
constexpr wchar_t kInstalling[] = L"Complete installation in the Lumivance setup window.";

struct Row {
    const char* name;
    InstallPhase phase;
    bool cancelRequested;
    bool finished;
    const wchar_t* content;
    bool cancelEnabled;
    bool pressRequestsCancel;
    bool pressCloses;
};

// Pressing Cancel again while Cancelling requests it again, which changes nothing: the flag stays set.
const Row kRows[] = {
    {"Downloading", InstallPhase::Downloading, false, false, kDownloading, true, true, false},
    {"Cancelling", InstallPhase::Downloading, true, false, kCanceling, true, true, false},
    {"Verifying", InstallPhase::Verifying, false, false, kVerifying, true, true, false},
    {"Verifying after a cancel", InstallPhase::Verifying, true, false, kVerifying, true, true, false},
    {"Installing", InstallPhase::Installing, false, false, kInstalling, false, false, false},
    {"Installing after a cancel", InstallPhase::Installing, true, false, kInstalling, false, false, false},
    {"Closing after a download failure", InstallPhase::Downloading, false, true, kDownloading, true, false, true},
    {"Closing after a cancel", InstallPhase::Downloading, true, true, kCanceling, true, false, true},
    {"Closing after verification", InstallPhase::Verifying, false, true, kVerifying, true, false, true},
    {"Closing after a cancel during verification", InstallPhase::Verifying, true, true, kVerifying, true, false, true},
    {"Closing after installing", InstallPhase::Installing, false, true, kInstalling, false, false, true},
    {"Closing after installing, cancel set", InstallPhase::Installing, true, true, kInstalling, false, false, true},
};

TEST(ProgressView, EveryStateShowsItsTextButtonAndClosing)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const ProgressView view = ProgressViewFor(row.phase, row.cancelRequested, row.finished);
        EXPECT_EQ(std::wstring(view.content), row.content);
        EXPECT_EQ(view.cancelEnabled, row.cancelEnabled);
        EXPECT_EQ(view.close, row.finished);
    }
}

TEST(ProgressView, CancelRequestsOnlyBeforeInstallingAndClosesOnlyOnceFinished)
{
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        const CancelPress press = CancelPressFor(row.phase, row.finished);
        EXPECT_EQ(press.requestCancel, row.pressRequestsCancel);
        EXPECT_EQ(press.close, row.pressCloses);
    }
}

}  // namespace
}  // namespace lumivance
