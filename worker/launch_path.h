#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumivance {

// Where the installer is started from: the staging file and, as its current directory, the staging directory.
struct InstallerPaths {
    std::wstring file;
    std::wstring directory;
};

// Whether CreateProcessW can start `file` with `currentDirectory` as the new process's current directory.
// Setup is not long-path aware, so both are held to MAX_PATH: the application name must be shorter than
// MAX_PATH, and a current directory, stored with a trailing backslash before its NUL, may be at most
// MAX_PATH - 2 characters long. A longer temp folder would cost a whole download and then fail to start.
bool CanStartFrom(const std::filesystem::path& file, const std::filesystem::path& currentDirectory);

// A final path as Windows reports it ("\\?\C:\x", "\\?\UNC\server\share\x") in the plain form that every
// installer can be started by and can handle as its own path ("C:\x", "\\server\share\x"); nothing for a
// volume without a drive letter, which no such path can name.
std::optional<std::wstring> PlainPath(std::wstring_view finalPath);

}  // namespace lumivance
