// file_step_bench STEP FILE: one timed pass of one of setup's steps over FILE, then one result line:
//   step=<step> bytes=<file size> ms=<elapsed> result=<sha256 hex | WinVerifyTrust verdict>
// bcrypt: the yardstick for hashing, the least a CNG client can do: ReadFile in 64 KiB pieces, each handed
//         straight to BCryptHashData.
// digest: ComputeFileSha256, as setup calls it.
// trust:  one WinVerifyTrust call on the file (verify, then close), with setup's policy; the yardstick for
//         the signature check.
// Exits 1 when the step fails (a trust verdict other than 0 included), so a broken run is never timed.
#include <windows.h>
#include <bcrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "base/unique_resource.h"
#include "base/unique_resource_win.h"
#include "verify/file_digest_win.h"
#include "verify/hex.h"

namespace {

std::string BareSha256(const std::filesystem::path& file)
{
    lumivance::AlgorithmProvider provider;
    lumivance::HashObject hash;
    if (BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0 ||
        BCryptCreateHash(provider.get(), hash.put(), nullptr, 0, nullptr, 0, 0) < 0) {
        throw std::runtime_error("bcrypt: no SHA-256 hash object");
    }
    const lumivance::FileHandle input(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!input) {
        throw std::runtime_error("bcrypt: cannot open the file");
    }
    static std::array<UCHAR, 65'536> buffer;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input.get(), buffer.data(), buffer.size(), &got, nullptr)) {
            throw std::runtime_error("bcrypt: read failed");
        }
        if (got == 0) {
            break;
        }
        if (BCryptHashData(hash.get(), buffer.data(), got, 0) < 0) {
            throw std::runtime_error("bcrypt: hashing failed");
        }
    }
    std::array<std::uint8_t, 32> digest{};
    if (BCryptFinishHash(hash.get(), digest.data(), digest.size(), 0) < 0) {
        throw std::runtime_error("bcrypt: finishing failed");
    }
    return lumivance::LowercaseHex(digest);
}

LONG TrustVerdict(const std::filesystem::path& file)
{
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = file.c_str();
    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT;
    data.dwUIContext = WTD_UICONTEXT_EXECUTE;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = WinVerifyTrust(nullptr, &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &data);
    return verdict;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: file_step_bench bcrypt|digest|trust FILE\n");
        return 2;
    }
    const std::wstring step = argv[1];
    const std::filesystem::path file = argv[2];

    LARGE_INTEGER frequency{}, started{}, ended{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    std::string result;
    bool succeeded = true;
    try {
        if (step == L"bcrypt") {
            result = BareSha256(file);
        } else if (step == L"digest") {
            const lumivance::FileHandle opened(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            result = lumivance::ComputeFileSha256(opened.get());
        } else if (step == L"trust") {
            const LONG verdict = TrustVerdict(file);
            char text[16] = {};
            std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(verdict));
            result = text;
            succeeded = verdict == 0;
        } else {
            std::fwprintf(stderr, L"file_step_bench: unknown step %ls\n", step.c_str());
            return 2;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "file_step_bench: %s\n", error.what());
        return 1;
    }
    QueryPerformanceCounter(&ended);

    const double ms =
        1000.0 * static_cast<double>(ended.QuadPart - started.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("step=%ls bytes=%llu ms=%.1f result=%s\n", step.c_str(),
                static_cast<unsigned long long>(std::filesystem::file_size(file)), ms, result.c_str());
    return succeeded ? 0 : 1;
}
