// The real setup on a 32-bit Windows: a WINEARCH=win32 prefix, where GetNativeSystemInfo reports the x86
// processor (0) and IsWow64Process2 the x86 machine (0x14c). No release fits such a PC, and only a 32-bit
// setup runs there at all, so this is where the user reads setup's own sentence instead of Windows' "This
// app can't run on your PC". Nothing may be asked of the download host and no staging directory made, on
// the first attempt or on Retry.
#include "tests/e2e/end_to_end_fixture.h"

namespace lumivance::e2e {
namespace {

using ::testing::IsEmpty;

constexpr wchar_t kNeeds64BitWindows[] = L"Lumivance requires 64-bit Windows on an Intel, AMD, or ARM processor.";

TEST_F(EndToEnd, On32BitWindowsSetupSaysItNeeds64BitWindowsAndAsksForNothing)
{
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    ASSERT_EQ(system.wProcessorArchitecture, PROCESSOR_ARCHITECTURE_INTEL)
        << "this test must run in the 32-bit prefix (tools/wine-run --arch=win32)";

    Serve("exact signed");
    SetupRun setup;
    const auto first = setup.WaitForBox();
    ASSERT_TRUE(first) << "no Retry/Cancel box on a 32-bit Windows";
    EXPECT_EQ(first->caption, L"Lumivance Setup");
    EXPECT_EQ(first->text, kNeeds64BitWindows) << ui::Narrow(first->text);
    EXPECT_THAT(first->buttons, ::testing::UnorderedElementsAre(IDRETRY, IDCANCEL));
    EXPECT_THAT(setup.StagingDirectories(), IsEmpty()) << "a staging directory before the release was chosen";

    // Retry decides afresh, with the same outcome.
    ui::Answer(*first, IDRETRY);
    ASSERT_TRUE(setup.WaitForDialog([](const auto&) { return true; })) << "Retry started no new attempt";
    EXPECT_EQ(ExpectBoxThenCancel(setup, kNeeds64BitWindows), 1u);
    EXPECT_THAT(RequestLines(), IsEmpty()) << "setup asked the download host for a release it cannot install";
    ExpectNothingLeft(setup);
}

}  // namespace
}  // namespace lumivance::e2e
