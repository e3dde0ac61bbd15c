#pragma once

#include <filesystem>

#include "worker/release_asset.h"

namespace lumivance {

// Returns only when the file has the asset's size, its SHA-256 and an Authenticode signature that Windows
// trusts; throws otherwise (the user's sentence, or the filesystem error of the size query).
void VerifyInstaller(const std::filesystem::path& file, const ReleaseAsset& asset);

}  // namespace lumivance
