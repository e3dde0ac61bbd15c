#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "worker/install_ops.h"

namespace lumivance {

// The workflow's own Windows operations (the callees of other folders come from their own headers).

// CoCreateGuid + StringFromGUID2 into a zeroed 40-unit buffer; nothing when CoCreateGuid fails.
std::optional<std::wstring> NewGuidText();

// Opens the file for reading with read sharing only; empty when that fails.
StagingFileLock LockStagingFile(const std::filesystem::path& file);

// CreateProcessW with the quoted path as the whole command line and workingDirectory as the current
// directory, environment inherited and no handles; waits without limit and stores the exit code.
bool LaunchAndWait(const std::filesystem::path& file, const std::filesystem::path& workingDirectory,
                   std::uint32_t& exitCode);

// One non-throwing recursive removal; true when it reported no error.
bool RemoveTree(const std::filesystem::path& directory);

// The workflow's operations with the system's own parts filled in (GUID, temp folder, directory creation,
// lock, launch, removal, pause); the callees of other folders are left empty for the caller to set.
InstallOps SystemInstallOps();

}  // namespace lumivance
