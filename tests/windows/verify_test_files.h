#pragma once

// The files the verification tests judge, made at build time on the Linux side together with sha256sum's
// digest of each, so that the product's own digest code is never its own oracle.

#include <cstdint>
#include <filesystem>
#include <string>

#include "base/release_asset.h"

namespace lumivance::testing {

// A random file of the given length (0, 1, 65535, 65536, 65537 or 5255225 bytes).
std::filesystem::path DigestSample(std::uint64_t length);

// An installer made from the fake installer: L"signed.exe", L"unsigned.exe" or L"patched.exe".
std::filesystem::path TestInstaller(const wchar_t* name);

// sha256sum's digest of one of the files above, from the SHA256SUMS beside it.
std::string Sha256sumOf(const std::filesystem::path& file);

// A release row pinned to a file's real size and sha256sum digest; the digest text lives as long as this.
struct PinnedRow {
    explicit PinnedRow(const std::filesystem::path& file);
    PinnedRow(std::string sha256, std::uint64_t size);
    PinnedRow(const PinnedRow&) = delete;
    PinnedRow& operator=(const PinnedRow&) = delete;

    std::string sha256Hex;
    ReleaseAsset row;
};

}  // namespace lumivance::testing
