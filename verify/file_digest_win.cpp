#include "verify/file_digest_win.h"

#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "base/unique_resource_win.h"
#include "verify/hex.h"

namespace lumivance {
namespace {

constexpr char kHashingFailed[] = "Could not verify the download. Please try again.";
constexpr char kReadFailed[] = "Could not read the downloaded installer.";

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

    // Others read the same handle (WinVerifyTrust) and may leave its pointer anywhere: one seek to the start,
    // then sequential reads. Reads that name their offset would need no seek, but under Wine each costs about
    // six sequential ones (docs/performance.md).
    constexpr LARGE_INTEGER kStart{};
    if (!SetFilePointerEx(file, kStart, nullptr, FILE_BEGIN)) {
        throw std::runtime_error(kReadFailed);
    }
    std::vector<char> buffer(kChunkBytes);
    for (;;) {
        DWORD delivered = 0;
        // Any failed read leaves a digest of part of the file; a synchronous read reports the end as 0 bytes.
        if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &delivered, nullptr)) {
            throw std::runtime_error(kReadFailed);
        }
        if (delivered == 0) {
            break;
        }
        if (!Succeeded(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(buffer.data()), delivered, 0))) {
            throw std::runtime_error(kHashingFailed);
        }
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
