#pragma once

#include <filesystem>
#include <string>

namespace lumivance {

// SHA-256 of the whole file as 64 lowercase hexadecimal digits; throws std::runtime_error with the user's
// sentence when the file or the hashing facility fails.
std::string ComputeFileSha256(const std::filesystem::path& file);

}  // namespace lumivance
