#include "staging/launch_path.h"

#include <cstddef>

#include "base/ascii_letter.h"
#include "catalogue.h"

namespace lumivance {
namespace {

constexpr std::size_t kMaxPath = 260;  // MAX_PATH, NUL included

constexpr std::wstring_view kLocalPrefix = L"\\\\?\\";
constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";
constexpr std::wstring_view kPlainUncPrefix = L"\\\\";

bool NameKeptAsWritten(std::wstring_view name) noexcept
{
    return !name.empty() && name != L"." && name != L".." && name.back() != L'.' && name.back() != L' ';
}

}  // namespace

bool CanStartFrom(const std::filesystem::path& file, const std::filesystem::path& currentDirectory)
{
    // Counted in UTF-16 units on Windows, where wstring is what CreateProcessW is given.
    return file.wstring().size() < kMaxPath && currentDirectory.wstring().size() <= kMaxPath - 2;
}

bool WindowsTakesAsWritten(std::wstring_view plainPath) noexcept
{
    std::wstring_view rest;
    if (plainPath.starts_with(kPlainUncPrefix)) {
        rest = plainPath.substr(kPlainUncPrefix.size());
    } else if (plainPath.size() >= 3 && plainPath[1] == L':' && plainPath[2] == L'\\') {
        rest = plainPath.substr(3);
    } else {
        return false;
    }
    for (;;) {
        const std::size_t end = rest.find(L'\\');
        if (!NameKeptAsWritten(rest.substr(0, end))) {
            return false;
        }
        if (end == std::wstring_view::npos) {
            return true;
        }
        rest = rest.substr(end + 1);
    }
}

const char* LaunchPathRefusal(const InstallerPaths& paths, bool elevated, bool remoteVolume)
{
    if (elevated && (remoteVolume || paths.directory.starts_with(kPlainUncPrefix))) {
        return kTempOnNetworkDrive;
    }
    if (!WindowsTakesAsWritten(paths.directory) || !WindowsTakesAsWritten(paths.file)) {
        return kTempPathNotStartable;
    }
    return nullptr;
}

std::optional<std::wstring> PlainPath(std::wstring_view finalPath)
{
    if (finalPath.starts_with(kUncPrefix) && finalPath.size() > kUncPrefix.size()) {
        return L"\\\\" + std::wstring(finalPath.substr(kUncPrefix.size()));
    }
    const std::wstring_view rest = finalPath.substr(finalPath.starts_with(kLocalPrefix) ? kLocalPrefix.size() : 0);
    const bool drive = finalPath.starts_with(kLocalPrefix) && rest.size() >= 3 && rest[1] == L':' && rest[2] == L'\\' &&
                       IsAsciiLetter(rest[0]);
    if (!drive) {
        return std::nullopt;
    }
    return std::wstring(rest);
}

}  // namespace lumivance
