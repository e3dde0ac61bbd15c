#include "worker/release_table.h"

#include "release_config.h"

namespace lumivance {

// Paths are stored whole: the version in them is the setup program's own, so a setup always installs the
// release it was built with.
constinit const ReleaseAsset kX64Release{
    L"/downloads/win/x64/LumivanceSetup-0.3.20.exe",
    release_config::kX64Sha256,
    release_config::kX64Size,
};

constinit const ReleaseAsset kArm64Release{
    L"/downloads/win/arm64/LumivanceSetup-0.3.20.exe",
    release_config::kArm64Sha256,
    release_config::kArm64Size,
};

constinit const wchar_t* const kDownloadHost = release_config::kDownloadHost;
constinit const std::uint16_t kDownloadPort = release_config::kDownloadPort;

}  // namespace lumivance
