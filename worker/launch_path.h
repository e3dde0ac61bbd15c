#pragma once

#include <filesystem>

namespace lumivance {

// Whether CreateProcessW can start `file` with `currentDirectory` as the new process's current directory.
// Setup is not long-path aware, so both are held to MAX_PATH: the application name must be shorter than
// MAX_PATH, and a current directory, stored with a trailing backslash before its NUL, may be at most
// MAX_PATH - 2 characters long. A longer temp folder would cost a whole download and then fail to start.
bool CanStartFrom(const std::filesystem::path& file, const std::filesystem::path& currentDirectory);

}  // namespace lumivance
