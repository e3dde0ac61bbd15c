#include "worker/launch_path.h"

#include <cstddef>

namespace lumivance {
namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH, NUL included

}  // namespace

bool CanStartFrom(const std::filesystem::path& file, const std::filesystem::path& currentDirectory)
{
    // Counted in UTF-16 units on Windows, where wstring is what CreateProcessW is given.
    return file.wstring().size() < kMaxPath && currentDirectory.wstring().size() <= kMaxPath - 2;
}

}  // namespace lumivance
