// Lumivance Setup's entry: the UI thread around the real install workflow.
#include <windows.h>

#include <cstdint>
#include <utility>

#include "app/setup_main_win.h"
#include "staging/staging_sweep.h"
#include "worker/install_workflow.h"

namespace {

// The real sweep, the real workflow and the real window station.
struct ProductSetup {
    void RemoveLeftovers() { lumivance::RemoveAbandonedStagingDirectories(); }
    void RunInstall(lumivance::InstallState* state) { lumivance::RunInstall(state); }
    std::uint32_t WindowStationFlags() { return lumivance::ProcessWindowStationFlags(); }
};

static_assert(noexcept(lumivance::SetupMainWith(std::declval<ProductSetup&>())), "wWinMain's caller is the C runtime");

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    ProductSetup setup;
    return lumivance::SetupMainWith(setup);
}
