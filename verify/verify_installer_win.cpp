#include "verify/verify_installer_win.h"

#include <softpub.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "catalogue.h"
#include "verify/file_digest_win.h"

namespace lumivance {
namespace {

// MinGW-w64's WINTRUST_DATA stops at dwUIContext; Windows' own continues with pSignatureSettings, and
// cbStruct must announce the full record.
struct FullWintrustData {
    WINTRUST_DATA data;
    void* pSignatureSettings;
};
static_assert(offsetof(FullWintrustData, data) == 0);
static_assert(sizeof(FullWintrustData) == (sizeof(void*) == 8 ? 88 : 52), "WINTRUST_DATA: x64 88, x86 52 bytes");

// Only the verify call's result counts; the close call just releases what the verify left behind.
// WinTrust reads the file through the handle it is given, so it judges the very file that was hashed.
bool WindowsTrustsSignature(HANDLE file, const std::wstring& path, const VerifyCalls& calls)
{
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path.c_str();
    fileInfo.hFile = file;
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

void VerifyInstallerWith(HANDLE file, const std::wstring& path, const ReleaseAsset& asset, const VerifyCalls& calls)
{
    // Cheapest first: a wrong size costs no read, a wrong digest no signature check (which may go online).
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != asset.sizeBytes) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    // Compared whole, length included: a pinned digest in capitals or of the wrong length never matches.
    if (ComputeFileSha256(file) != std::string_view(asset.sha256Hex)) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    if (!WindowsTrustsSignature(file, path, calls)) {
        throw std::runtime_error(kSignatureRefused);
    }
}

VerifyCalls RealVerifyCalls()
{
    return {.winVerifyTrust = WinVerifyTrust};
}

void VerifyInstaller(HANDLE file, const std::wstring& path, const ReleaseAsset& asset)
{
    VerifyInstallerWith(file, path, asset, RealVerifyCalls());
}

}  // namespace lumivance
