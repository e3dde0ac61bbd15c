#pragma once

#include <cstdint>

#include "base/release_asset.h"

namespace lumivance {

// The release this build installs, pinned at build time (one generated header per build or test variant).
extern const ReleaseAsset kX64Release;
extern const ReleaseAsset kArm64Release;
extern const wchar_t* const kDownloadHost;
extern const std::uint16_t kDownloadPort;

}  // namespace lumivance
