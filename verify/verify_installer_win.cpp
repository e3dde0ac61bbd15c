#include "verify/verify_installer_win.h"

#include <softpub.h>

#include <cstddef>
#include <stdexcept>
#include <string_view>

#include "verify/file_digest.h"

namespace lumivance {
namespace {

constexpr char kSignatureRefused[] =
    "Windows could not verify Lumivance's signature. Check your internet connection and Windows updates, then "
    "try again.";

// MinGW-w64's WINTRUST_DATA stops at dwUIContext; Windows' own continues with pSignatureSettings, and
// cbStruct must announce the full record.
struct FullWintrustData {
    WINTRUST_DATA data;
    void* pSignatureSettings;
};
static_assert(offsetof(FullWintrustData, data) == 0);
static_assert(sizeof(FullWintrustData) == (sizeof(void*) == 8 ? 88 : 52), "WINTRUST_DATA: x64 88, x86 52 bytes");

// Only the verify call's result counts; the close call just releases what the verify left behind.
bool WindowsTrustsSignature(const std::filesystem::path& file, const VerifyCalls& calls)
{
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = file.c_str();
    fileInfo.hFile = nullptr;
    fileInfo.pgKnownSubject = nullptr;

    FullWintrustData full{};
    WINTRUST_DATA& data = full.data;
    data.cbStruct = sizeof(full);
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.hWVTStateData = nullptr;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUIContext = WTD_UICONTEXT_EXECUTE;
    full.pSignatureSettings = nullptr;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = calls.winVerifyTrust(nullptr, &action, &full);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    calls.winVerifyTrust(nullptr, &action, &full);
    return verdict == 0;
}

}  // namespace

void VerifyInstallerWith(const std::filesystem::path& file, const ReleaseAsset& asset, const VerifyCalls& calls)
{
    // Cheapest first: a wrong size costs no read, a wrong digest no signature check (which may go online).
    if (std::filesystem::file_size(file) != asset.sizeBytes) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    // Compared whole, length included: a pinned digest in capitals or of the wrong length never matches.
    if (ComputeFileSha256(file) != std::string_view(asset.sha256Hex)) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    if (!WindowsTrustsSignature(file, calls)) {
        throw std::runtime_error(kSignatureRefused);
    }
}

VerifyCalls RealVerifyCalls()
{
    return {.winVerifyTrust = WinVerifyTrust};
}

void VerifyInstaller(const std::filesystem::path& file, const ReleaseAsset& asset)
{
    VerifyInstallerWith(file, asset, RealVerifyCalls());
}

}  // namespace lumivance
