#pragma once

#include <windows.h>
#include <wintrust.h>

#include <filesystem>
#include <functional>

#include "worker/release_asset.h"

namespace lumivance {

// Windows' judgement of the signature. The program always uses the real WinVerifyTrust; tests put a
// recorder in its place to see the exact request, because Wine never refuses an untrusted or revoked chain.
struct TrustCalls {
    std::function<LONG(HWND, GUID*, void*)> winVerifyTrust = WinVerifyTrust;
};

// VerifyInstaller with the signature calls given.
void VerifyInstallerWith(const std::filesystem::path& file, const ReleaseAsset& asset, const TrustCalls& calls);

}  // namespace lumivance
