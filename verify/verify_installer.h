#pragma once

#include <filesystem>

#include "base/release_asset.h"

namespace lumivance {

// What the user reads when the download is not exactly the pinned file. The workflow says the same when it
// cannot hold the downloaded file still for the verification.
inline constexpr char kDownloadNotVerified[] =
    "The download could not be verified. Nothing was installed. Please try again.";

// Returns only when the file has the asset's size, its SHA-256 and an Authenticode signature that Windows
// trusts; throws otherwise (the user's sentence, or the filesystem error of the size query).
void VerifyInstaller(const std::filesystem::path& file, const ReleaseAsset& asset);

}  // namespace lumivance
