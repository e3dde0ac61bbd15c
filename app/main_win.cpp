// Lumivance Setup's entry: the UI thread around the real install workflow.
#include <windows.h>

#include "app/setup_main.h"
#include "staging/staging_sweep.h"
#include "worker/install_workflow.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    return lumivance::SetupMainWith({
        .removeLeftovers = lumivance::RemoveAbandonedStagingDirectories,
        .runInstall = lumivance::RunInstall,
        .windowStationFlags = lumivance::ProcessWindowStationFlags,
    });
}
