#pragma once

// What the end-to-end tests share: a fixture that insists on a display, and the checks every run ends with.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "tests/e2e/setup_run.h"
#include "tests/windows/shell_harness.h"

namespace lumivance::e2e {

inline constexpr wchar_t kDownloading[] = L"Downloading the right version for your PC\u2026";
inline constexpr wchar_t kVerifying[] = L"Verifying the download\u2026";
inline constexpr wchar_t kInstalling[] = L"Complete installation in the Lumivance setup window.";

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override { testing::RequireDisplay(); }

    // The failure box: caption, text, Retry and Cancel; answers Cancel and returns setup's exit code.
    static std::optional<DWORD> ExpectBoxThenCancel(SetupRun& setup, const std::wstring& sentence)
    {
        const auto box = setup.WaitForBox();
        EXPECT_TRUE(box) << "no Retry/Cancel box appeared";
        if (!box) {
            return std::nullopt;
        }
        EXPECT_EQ(box->caption, L"Lumivance Setup");
        EXPECT_EQ(box->text, sentence) << ui::Narrow(box->text);
        EXPECT_THAT(box->buttons, ::testing::UnorderedElementsAre(IDRETRY, IDCANCEL));
        EXPECT_FALSE(setup.BoxOverlappedDialog()) << "the box must come only after the dialog has gone";
        ui::Answer(*box, IDCANCEL);
        return setup.WaitForExit();
    }

    static void ExpectNothingLeft(const SetupRun& setup)
    {
        EXPECT_THAT(setup.StagingDirectories(), ::testing::IsEmpty()) << "junk left in the user's temp folder";
    }
};

}  // namespace lumivance::e2e
