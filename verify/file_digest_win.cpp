#include "verify/file_digest_win.h"

#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "base/unique_resource_win.h"
#include "catalogue.h"
#include "verify/hex.h"

namespace lumivance {
namespace {

constexpr std::size_t kChunkBytes = 65536;
constexpr ULONG kSha256Bytes = 32;

constexpr bool Succeeded(NTSTATUS status)
{
    return status >= 0;
}

}  // namespace

std::string ComputeFileSha256(HANDLE file)
{
    // Declared in the order of creation, so that any failure releases the hash object, then the provider.
    AlgorithmProvider provider;
    if (!Succeeded(BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        throw std::runtime_error(kHashingFailed);
    }
    HashObject hash;
    if (!Succeeded(BCryptCreateHash(provider.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
        throw std::runtime_error(kHashingFailed);
    }

    // Others read the same handle (WinVerifyTrust) and may leave its pointer anywhere, so the first read names
    // offset 0; on a synchronous handle that also moves the pointer to where it stopped, and the rest follow
    // sequentially: naming the offset in every read would cost about six sequential reads each under Wine
    // (docs/performance.md).
    OVERLAPPED fromTheStart{};
    OVERLAPPED* at = &fromTheStart;
    std::vector<char> buffer(kChunkBytes);
    for (;;) {
        DWORD delivered = 0;
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &delivered, at)) {
            // The end of the file is the only acceptable way out (a read that names its offset reports an
            // empty file so): any other failure leaves a digest of part of it.
            if (GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            throw std::runtime_error(kDownloadReadFailed);
        }
        if (delivered == 0) {
            break;
        }
        if (!Succeeded(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(buffer.data()), delivered, 0))) {
            throw std::runtime_error(kHashingFailed);
        }
        at = nullptr;
    }

    std::array<std::uint8_t, kSha256Bytes> digest{};
    if (!Succeeded(BCryptFinishHash(hash.get(), digest.data(), kSha256Bytes, 0))) {
        throw std::runtime_error(kHashingFailed);
    }
    hash.reset();
    provider.reset();
    return LowercaseHex(digest);
}

}  // namespace lumivance
