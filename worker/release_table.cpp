#include "worker/release_table.h"

#include "release_config.h"

namespace lumivance {

// The paths are generated whole from the project's version: a setup always installs the release it was
// built with.
constinit const ReleaseAsset kX64Release{
    release_config::kX64DownloadPath,
    release_config::kX64Sha256,
    release_config::kX64Size,
};

constinit const ReleaseAsset kArm64Release{
    release_config::kArm64DownloadPath,
    release_config::kArm64Sha256,
    release_config::kArm64Size,
};

constinit const wchar_t* const kDownloadHost = release_config::kDownloadHost;
constinit const std::uint16_t kDownloadPort = release_config::kDownloadPort;

}  // namespace lumivance
