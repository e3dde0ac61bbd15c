#pragma once

#include "base/install_state.h"

namespace lumivance {

// Thrown once the worker has seen the user's cancel; RunInstall turns it into exit code 1223.
struct Cancelled {};

// Where the worker looks at the user's cancel.
inline void ThrowIfCancelled(const InstallState& state)
{
    if (state.cancelRequested.load()) {
        throw Cancelled{};
    }
}

}  // namespace lumivance
