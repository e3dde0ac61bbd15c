#include "download/download_installer.h"
#include "verify/verify_installer.h"
#include "worker/app_running.h"
#include "worker/install_workflow.h"
#include "worker/release_selection.h"
#include "worker/system_ops.h"

namespace lumivance {

InstallOps RealInstallOps()
{
    InstallOps ops = SystemInstallOps();
    ops.isAppRunning = IsAppRunning;
    ops.selectReleaseAsset = SelectReleaseAsset;
    ops.download = DownloadInstaller;
    ops.verify = VerifyInstaller;
    return ops;
}

void RunInstall(InstallState* state)
{
    RunInstallWith(*state, RealInstallOps());
}

}  // namespace lumivance
