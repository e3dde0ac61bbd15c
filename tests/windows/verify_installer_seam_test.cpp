// What setup asks WinVerifyTrust, and what it makes of the answer, seen through a recorder in its place.
//
// Wine's WinVerifyTrust does check that a file is signed and that the signature matches the bytes (see the
// VerifyInstaller tests), but it answers 0 for a chain ending in a root nobody trusts and for a revoked
// certificate: it never looks up revocation. So these tests show the request (every field of both records,
// the action, the window, the verify-then-close pair with the state handle carried over) and that setup
// refuses on any non-zero verdict. Only real Windows can show that an untrusted root, a revoked
// certificate or an unreachable revocation server really produce such a verdict for this request.
#include <gtest/gtest.h>

#include <windows.h>
#include <wintrust.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/unique_resource_win.h"
#include "tests/windows/test_support.h"
#include "tests/windows/verify_test_files.h"
#include "verify/verify_installer_win.h"

namespace lumivance {
namespace {

using std::filesystem::path;
using testing::PinnedRow;
using testing::TestInstaller;

constexpr char kSignature[] =
    "Windows could not verify Lumivance's signature. Check your internet connection and Windows updates, then try "
    "again.";

// Windows' layouts, x86 (setup's machine) or x64: WINTRUST_DATA up to and including pSignatureSettings,
// and WINTRUST_FILE_INFO.
constexpr bool kX86 = sizeof(void*) == 4;
constexpr DWORD kWintrustDataBytes = kX86 ? 52 : 88;
constexpr std::size_t kSignatureSettingsOffset = kX86 ? 48 : 80;
constexpr DWORD kFileInfoBytes = kX86 ? 16 : 32;

// What one call saw, copied while the call ran (setup changes the record between its two calls).
struct SeenCall {
    HWND window;
    GUID action;
    const void* record;
    WINTRUST_DATA data;
    const void* signatureSettings;
    WINTRUST_FILE_INFO fileInfo;
    std::wstring filePath;
};

class TrustRecorder {
public:
    LONG verifyVerdict = 0;
    LONG closeResult = 0;
    std::vector<SeenCall> calls;
    HANDLE verified = nullptr;  // the handle the verification was given

    // The state a verify call leaves behind, which the close call must be handed back.
    const HANDLE state = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(0x5EED0001));

    LONG WinVerifyTrust(HWND window, GUID* action, void* record)
    {
        auto* data = static_cast<WINTRUST_DATA*>(record);
        SeenCall seen{window, *action, record, *data, nullptr, {}, {}};
        if (data->cbStruct >= kWintrustDataBytes) {
            std::memcpy(&seen.signatureSettings, static_cast<const char*>(record) + kSignatureSettingsOffset,
                        sizeof(void*));
        }
        if (data->dwUnionChoice == WTD_CHOICE_FILE && data->pFile != nullptr) {
            seen.fileInfo = *data->pFile;
            seen.filePath = data->pFile->pcwszFilePath ? data->pFile->pcwszFilePath : L"(null)";
        }
        calls.push_back(seen);
        if (data->dwStateAction == WTD_STATEACTION_VERIFY) {
            data->hWVTStateData = state;
            return verifyVerdict;
        }
        return closeResult;
    }
};

std::string Outcome(TrustRecorder& recorder, const path& file, const ReleaseAsset& row)
{
    const FileHandle opened = testing::OpenForReading(file);
    recorder.verified = opened.get();
    try {
        VerifyInstallerWith(opened.get(), file.wstring(), row, recorder);
    } catch (const std::exception& failure) {
        return failure.what();
    }
    return "(verified)";
}

bool IsGenericVerifyV2(const GUID& action)
{
    const GUID expected{0x00AAC56B, 0xCD44, 0x11D0, {0x8C, 0xC2, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
    return std::memcmp(&action, &expected, sizeof(GUID)) == 0;
}

void ExpectTheRequest(const SeenCall& call, const path& file, HANDLE verified, DWORD stateAction)
{
    EXPECT_EQ(call.window, nullptr) << "no window of ours to hang UI on";
    EXPECT_TRUE(IsGenericVerifyV2(call.action)) << "WINTRUST_ACTION_GENERIC_VERIFY_V2, the Authenticode policy";

    const WINTRUST_DATA& data = call.data;
    EXPECT_EQ(data.cbStruct, kWintrustDataBytes) << "the full record, up to and including pSignatureSettings";
    EXPECT_EQ(data.pPolicyCallbackData, nullptr);
    EXPECT_EQ(data.pSIPClientData, nullptr);
    EXPECT_EQ(data.dwUIChoice, 2u) << "WTD_UI_NONE";
    EXPECT_EQ(data.fdwRevocationChecks, 1u) << "WTD_REVOKE_WHOLECHAIN";
    EXPECT_EQ(data.dwUnionChoice, 1u) << "WTD_CHOICE_FILE";
    EXPECT_EQ(data.dwStateAction, stateAction);
    EXPECT_EQ(data.pwszURLReference, nullptr);
    EXPECT_EQ(data.dwProvFlags, 0x80u) << "WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT and nothing else";
    EXPECT_EQ(data.dwUIContext, 0u) << "WTD_UICONTEXT_EXECUTE";
    EXPECT_EQ(call.signatureSettings, nullptr);

    const WINTRUST_FILE_INFO& info = call.fileInfo;
    EXPECT_EQ(info.cbStruct, kFileInfoBytes);
    EXPECT_EQ(call.filePath, file.wstring());
    EXPECT_EQ(info.hFile, verified) << "WinTrust reads the very file that was hashed, through its handle";
    EXPECT_EQ(info.pgKnownSubject, nullptr) << "Windows determines the kind of subject";
}

TEST(WinVerifyTrustRequest, AsksForAuthenticodeWithWholeChainRevocationExceptRootAndNoUi)
{
    const path file = TestInstaller(L"signed.exe");
    const PinnedRow pinned(file);
    TrustRecorder recorder;
    EXPECT_EQ(Outcome(recorder, file, pinned.row), "(verified)");

    ASSERT_EQ(recorder.calls.size(), 2u);
    {
        SCOPED_TRACE("verify call");
        ExpectTheRequest(recorder.calls[0], file, recorder.verified, 1 /* WTD_STATEACTION_VERIFY */);
        EXPECT_EQ(recorder.calls[0].data.hWVTStateData, nullptr) << "no state before the first call";
    }
    {
        SCOPED_TRACE("close call");
        ExpectTheRequest(recorder.calls[1], file, recorder.verified, 2 /* WTD_STATEACTION_CLOSE */);
    }
}

TEST(WinVerifyTrustRequest, CloseFollowsEveryVerifyWithTheStateTheVerifyLeft)
{
    const path file = TestInstaller(L"signed.exe");
    const PinnedRow pinned(file);
    for (const LONG verdict : {0L, static_cast<LONG>(CERT_E_REVOKED)}) {
        SCOPED_TRACE(verdict);
        TrustRecorder recorder;
        recorder.verifyVerdict = verdict;
        Outcome(recorder, file, pinned.row);

        ASSERT_EQ(recorder.calls.size(), 2u) << "exactly one verify, then one close; no retry";
        EXPECT_EQ(recorder.calls[0].data.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_VERIFY));
        EXPECT_EQ(recorder.calls[1].data.dwStateAction, static_cast<DWORD>(WTD_STATEACTION_CLOSE));
        EXPECT_EQ(recorder.calls[1].data.hWVTStateData, recorder.state);
        EXPECT_EQ(recorder.calls[1].record, recorder.calls[0].record) << "the same record";
        EXPECT_EQ(recorder.calls[1].data.fdwRevocationChecks, recorder.calls[0].data.fdwRevocationChecks)
            << "no second try without revocation";
    }
}

TEST(WinVerifyTrustRequest, AnyNonZeroVerdictRefusesAndTheCloseResultIsIgnored)
{
    const path file = TestInstaller(L"signed.exe");
    const PinnedRow pinned(file);
    // What Windows answers for an unsigned file, a bad digest, an untrusted root, a revoked certificate,
    // revocation that could not be looked up, an expired certificate; and values no caller should trust.
    for (const LONG verdict :
         {static_cast<LONG>(TRUST_E_NOSIGNATURE), static_cast<LONG>(TRUST_E_BAD_DIGEST),
          static_cast<LONG>(CERT_E_UNTRUSTEDROOT), static_cast<LONG>(CERT_E_REVOKED),
          static_cast<LONG>(CERT_E_REVOCATION_FAILURE), static_cast<LONG>(CRYPT_E_REVOCATION_OFFLINE),
          static_cast<LONG>(CERT_E_EXPIRED), 1L, -1L}) {
        SCOPED_TRACE(verdict);
        TrustRecorder recorder;
        recorder.verifyVerdict = verdict;
        EXPECT_EQ(Outcome(recorder, file, pinned.row), kSignature);
        EXPECT_EQ(recorder.calls.size(), 2u);
    }
    for (const LONG closeResult : {static_cast<LONG>(TRUST_E_PROVIDER_UNKNOWN), static_cast<LONG>(E_INVALIDARG)}) {
        SCOPED_TRACE(closeResult);
        TrustRecorder recorder;
        recorder.closeResult = closeResult;
        EXPECT_EQ(Outcome(recorder, file, pinned.row), "(verified)");
    }
}

TEST(WinVerifyTrustRequest, NotAskedWhenTheSizeOrTheDigestIsWrong)
{
    const path file = TestInstaller(L"signed.exe");
    const PinnedRow pinned(file);
    const PinnedRow wrongSize(pinned.sha256Hex, pinned.row.sizeBytes + 1);
    const PinnedRow wrongDigest(std::string(64, 'a'), pinned.row.sizeBytes);
    for (const ReleaseAsset* row : {&wrongSize.row, &wrongDigest.row}) {
        TrustRecorder recorder;
        EXPECT_EQ(Outcome(recorder, file, *row),
                  "The download could not be verified. Nothing was installed. Please try again.");
        EXPECT_TRUE(recorder.calls.empty()) << recorder.calls.size() << " calls";
    }
}

}  // namespace
}  // namespace lumivance
