#pragma once

#include <windows.h>
#include <wintrust.h>

#include <functional>
#include <string>

#include "base/release_asset.h"

namespace lumivance {

// Windows' judgement of the signature. Tests put a recorder in its place to see the exact request, because
// Wine never refuses an untrusted or revoked chain.
struct VerifyCalls {
    std::function<LONG(HWND, GUID*, void*)> winVerifyTrust;
};

// The real WinVerifyTrust.
VerifyCalls RealVerifyCalls();

// Returns only when the open file (read access) has the asset's size, its SHA-256 and an Authenticode
// signature that Windows trusts; throws the user's sentence otherwise. Everything is read through `file`;
// `path` is where it is, for WinTrust to name it.
void VerifyInstaller(HANDLE file, const std::wstring& path, const ReleaseAsset& asset);

// VerifyInstaller over the given calls.
void VerifyInstallerWith(HANDLE file, const std::wstring& path, const ReleaseAsset& asset, const VerifyCalls& calls);

}  // namespace lumivance
