#pragma once

#include <windows.h>
#include <wintrust.h>

#include <concepts>
#include <string>

#include "base/release_asset.h"
#include "catalogue.h"

namespace lumivance {

// Windows' judgement of the signature: WinVerifyTrust. Tests put a recorder in its place to see the exact
// request, because Wine never refuses an untrusted or revoked chain.
template <typename T>
concept SignatureJudge = requires(T& judge, GUID* action, void* data)
{
    {
        judge.WinVerifyTrust(HWND{}, action, data)
        } -> std::same_as<LONG>;
};

struct WindowsSignatureJudge {
    LONG WinVerifyTrust(HWND window, GUID* action, void* data) { return ::WinVerifyTrust(window, action, data); }
};

namespace verify {

// MinGW-w64's WINTRUST_DATA stops at dwUIContext; Windows' own continues with pSignatureSettings, and
// cbStruct must announce the full record.
struct FullWintrustData {
    WINTRUST_DATA data;
    void* pSignatureSettings;
};

// One Authenticode verification of the open file and its verify-then-close pair; it points into itself, so it
// stays where it was made. WinTrust reads the file through the handle it is given, so it judges the very file
// that was hashed; `path` only names it.
class TrustRequest {
public:
    TrustRequest(HANDLE file, const std::wstring& path);
    TrustRequest(const TrustRequest&) = delete;
    TrustRequest& operator=(const TrustRequest&) = delete;

    GUID* Action() { return &action_; }
    void* Verify();  // the record, asking for a verification
    void* Close();   // the same record, asking to release what the verification left behind

private:
    WINTRUST_FILE_INFO fileInfo_{};
    FullWintrustData full_{};
    GUID action_;
};

// Throws the user's sentence unless the open file has the asset's size and SHA-256.
void RequireSizeAndDigest(HANDLE file, const ReleaseAsset& asset);
[[noreturn]] void ThrowSignatureRefused();

}  // namespace verify

// Returns only when the open file (read access) has the asset's size, its SHA-256 and an Authenticode
// signature that Windows trusts; throws the user's sentence otherwise. Everything is read through `file`;
// `path` is where it is, for WinTrust to name it.
template <SignatureJudge Judge>
void VerifyInstallerWith(HANDLE file, const std::wstring& path, const ReleaseAsset& asset, Judge& judge)
{
    // Cheapest first: a wrong size costs no read, a wrong digest no signature check (which may go online).
    verify::RequireSizeAndDigest(file, asset);
    verify::TrustRequest request(file, path);
    // Only the verify call's result counts; the close call just releases what the verify left behind.
    const LONG verdict = judge.WinVerifyTrust(nullptr, request.Action(), request.Verify());
    judge.WinVerifyTrust(nullptr, request.Action(), request.Close());
    if (verdict != 0) {
        verify::ThrowSignatureRefused();
    }
}

inline void VerifyInstaller(HANDLE file, const std::wstring& path, const ReleaseAsset& asset)
{
    WindowsSignatureJudge windows;
    VerifyInstallerWith(file, path, asset, windows);
}

}  // namespace lumivance
