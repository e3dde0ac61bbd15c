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

// Whether Windows takes a plain path ("C:\x", "\\server\share\x") as written. Win32 normalisation drops a
// dot or a space that ends a name, and folds "." and ".." and doubled backslashes away, while "\\?\" paths
// and NTFS keep them: "x." is another folder than "x", and a plain path naming the first opens the second.
bool WindowsTakesAsWritten(std::wstring_view plainPath) noexcept;

// Why the installer may not be started by these plain paths, judged from the paths alone and from whether the
// staging directory is on a remote volume; nullptr when nothing here speaks against them. Elevated (or SYSTEM),
// a network share is refused: the server, not this PC, decides what its DACL, locks and paths mean, and it
// sees the elevated and the unelevated process as the same user. Whether the paths really open what setup
// holds is the caller's to prove on top, with the handles.
const char* LaunchPathRefusal(const InstallerPaths& paths, bool elevated, bool remoteVolume);

// A final path as Windows reports it ("\\?\C:\x", "\\?\UNC\server\share\x") in the plain form that every
// installer can be started by and can handle as its own path ("C:\x", "\\server\share\x"); nothing for a
// volume without a drive letter, which no such path can name.
std::optional<std::wstring> PlainPath(std::wstring_view finalPath);

}  // namespace lumivance
