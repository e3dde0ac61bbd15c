#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lumivance {

// Each attempt downloads into a folder of its own in the user's temp folder: this prefix and a new braced
// GUID, holding the one staging file.
inline constexpr std::wstring_view kStagingDirectoryPrefix = L"LumivanceSetup-";
inline constexpr std::wstring_view kStagingFileName = L"LumivanceSetup.exe";

// True for exactly the names setup gives its staging directories: the prefix and a GUID as StringFromGUID2
// writes it, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in capital hexadecimal digits. A name that merely
// looks like one is somebody else's.
bool IsStagingDirectoryName(std::wstring_view name) noexcept;

// One entry of a directory as a listing shows it.
struct ListedEntry {
    std::wstring name;
    bool isDirectory = false;
    bool isReparsePoint = false;  // a link or junction: never followed, never taken for setup's own file
};

// Whether a staging directory that no running setup holds may be removed at start-up: it holds nothing but
// the staging file as a plain file, or nothing at all and is at least a minute old. A younger empty one may
// have been made a moment ago by a setup in another logon session that has yet to take hold of it.
bool MayRemoveAbandoned(const std::vector<ListedEntry>& entries, std::chrono::seconds age) noexcept;

// Keeps other programs from deleting or renaming a staging directory until the last copy is destroyed; in
// particular it tells other setups' start-up sweep that the directory is in use. Empty when the directory
// could not be opened.
using StagingDirectoryHold = std::shared_ptr<void>;

// Opens the directory for listing without delete sharing (Windows).
StagingDirectoryHold HoldStagingDirectory(const std::filesystem::path& directory);

// Start-up, before the first attempt: removes from the user's temp folder what setups that were killed
// before their own clean-up left behind (Windows). Only directories with a staging name that no running
// setup holds and that hold nothing but an unused staging file; anything else is left alone, and any
// failure is silent.
void RemoveAbandonedStagingDirectories() noexcept;

}  // namespace lumivance
