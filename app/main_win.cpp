// Lumivance Setup's entry: the UI thread around the real install workflow.
#include <windows.h>

#include "app/setup_main.h"
#include "worker/install_workflow.h"
#include "worker/staging_sweep.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return lumivance::SetupMainWith({
        .removeLeftovers = lumivance::RemoveAbandonedStagingDirectories,
        .runInstall = lumivance::RunInstall,
        .windowStationFlags = lumivance::ProcessWindowStationFlags,
    });
}
