#pragma once

#include "worker/release_asset.h"

namespace lumivance {

// The release row for this machine's native architecture; throws std::runtime_error with the user's
// sentence on a machine that is neither x64 nor ARM64.
const ReleaseAsset& SelectReleaseAsset();

}  // namespace lumivance
