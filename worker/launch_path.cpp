#include "worker/launch_path.h"

#include <cstddef>

namespace lumivance {
namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH, NUL included

constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";

}  // namespace

bool CanStartFrom(const std::filesystem::path& file, const std::filesystem::path& currentDirectory)
{
    // Counted in UTF-16 units on Windows, where wstring is what CreateProcessW is given.
    return file.wstring().size() < kMaxPath && currentDirectory.wstring().size() <= kMaxPath - 2;
}

std::optional<std::wstring> PlainPath(std::wstring_view finalPath)
{
    if (finalPath.starts_with(kUncPrefix) && finalPath.size() > kUncPrefix.size()) {
        return L"\\\\" + std::wstring(finalPath.substr(kUncPrefix.size()));
    }
    const std::wstring_view rest = finalPath.substr(finalPath.starts_with(kLocalPrefix) ? kLocalPrefix.size() : 0);
    const bool drive = finalPath.starts_with(kLocalPrefix) && rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\' &&
                       ((rest[0] >= L'A' && rest[0] <= L'Z') || (rest[0] >= L'a' && rest[0] <= L'z'));
    if (!drive) {
        return std::nullopt;
    }
    return std::wstring(rest);
}

}  // namespace lumivance
