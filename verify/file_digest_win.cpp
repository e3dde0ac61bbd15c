#include "verify/file_digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <fstream>
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

std::string ComputeFileSha256(const std::filesystem::path& file)
{
    // Declared in the order of creation, so that any failure releases the file stream, then the hash
    // object, then the provider.
    AlgorithmProvider provider;
    if (!Succeeded(BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        throw std::runtime_error(kHashingFailed);
    }
    HashObject hash;
    if (!Succeeded(BCryptCreateHash(provider.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
        throw std::runtime_error(kHashingFailed);
    }

    // The stream's open shares reading and writing with others, so a scanner or the workflow's own lock
    // on the file does not stop the digest.
    std::ifstream stream(file, std::ios::in | std::ios::binary);
    if (!stream) {
        throw std::runtime_error(kReadFailed);
    }
    std::vector<char> buffer(kChunkBytes);
    while (stream) {
        stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        // A short read sets end-of-file and failure together, so its bytes are still fed here.
        const auto delivered = static_cast<ULONG>(stream.gcount());
        if (delivered != 0 &&
            !Succeeded(BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(buffer.data()), delivered, 0))) {
            throw std::runtime_error(kHashingFailed);
        }
    }
    // Exhausted is the only acceptable way out: a read error leaves a digest of part of the file.
    if (!stream.eof() || stream.bad()) {
        throw std::runtime_error(kReadFailed);
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
