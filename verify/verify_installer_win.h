#pragma once

#include <windows.h>
#include <wintrust.h>

#include <filesystem>
#include <functional>

#include "base/release_asset.h"
#include "verify/verify_installer.h"

namespace lumivance {

// Windows' judgement of the signature. Tests put a recorder in its place to see the exact request, because
// Wine never refuses an untrusted or revoked chain.
struct VerifyCalls {
    std::function<LONG(HWND, GUID*, void*)> winVerifyTrust;
};

// The real WinVerifyTrust.
VerifyCalls RealVerifyCalls();

// VerifyInstaller over the given calls.
void VerifyInstallerWith(const std::filesystem::path& file, const ReleaseAsset& asset, const VerifyCalls& calls);

}  // namespace lumivance
