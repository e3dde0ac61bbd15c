#pragma once

#include "app/install_state.h"
#include "worker/install_ops.h"

namespace lumivance {

// One attempt, start to end, on the worker thread. Never throws Cancelled or a standard exception: the
// outcome lands in errorText/exitCode, the staging directory is removed, and finished is set last.
void RunInstall(InstallState* state);

// The same workflow over the given operations.
void RunInstallWith(InstallState& state, const InstallOps& ops);

}  // namespace lumivance
