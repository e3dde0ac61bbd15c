#include "verify/verify_installer_win.h"

#include <softpub.h>

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "catalogue.h"
#include "verify/file_digest_win.h"

namespace lumivance {
namespace verify {

static_assert(offsetof(FullWintrustData, data) == 0);
static_assert(sizeof(FullWintrustData) == (sizeof(void*) == 8 ? 88 : 52), "WINTRUST_DATA: x64 88, x86 52 bytes");

TrustRequest::TrustRequest(HANDLE file, const std::wstring& path) : action_(WINTRUST_ACTION_GENERIC_VERIFY_V2)
{
    fileInfo_.cbStruct = sizeof(fileInfo_);
    fileInfo_.pcwszFilePath = path.c_str();
    fileInfo_.hFile = file;
    fileInfo_.pgKnownSubject = nullptr;

    WINTRUST_DATA& data = full_.data;
    data.cbStruct = sizeof(full_);
    data.pPolicyCallbackData = nullptr;
    data.pSIPClientData = nullptr;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo_;
    data.hWVTStateData = nullptr;
    data.pwszURLReference = nullptr;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUIContext = WTD_UICONTEXT_EXECUTE;
    full_.pSignatureSettings = nullptr;
}

void* TrustRequest::Verify()
{
    full_.data.dwStateAction = WTD_STATEACTION_VERIFY;
    return &full_;
}

void* TrustRequest::Close()
{
    full_.data.dwStateAction = WTD_STATEACTION_CLOSE;
    return &full_;
}

void RequireSizeAndDigest(HANDLE file, const ReleaseAsset& asset)
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != asset.sizeBytes) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    // Compared whole, length included: a pinned digest in capitals or of the wrong length never matches.
    if (ComputeFileSha256(file) != std::string_view(asset.sha256Hex)) {
        throw std::runtime_error(kDownloadNotVerified);
    }
}

void ThrowSignatureRefused()
{
    throw std::runtime_error(kSignatureRefused);
}

}  // namespace verify
}  // namespace lumivance
