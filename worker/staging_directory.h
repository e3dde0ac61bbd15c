#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
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

// The account setup runs as, as its process token tells it: the user's SID in string form ("S-1-5-21-...",
// "S-1-5-18" for SYSTEM) and whether the token is elevated (SYSTEM always counts as elevated).
struct SetupAccount {
    std::wstring userSid;
    bool elevated = false;
};

// The security descriptor, in SDDL, that a staging directory is created with: an explicit owner and a
// protected DACL, so nothing is inherited from the temp folder. Elevated (or SYSTEM), only SYSTEM and
// Administrators may touch it, which keeps the user's own unelevated processes out; unelevated, the user
// and SYSTEM.
std::wstring StagingDirectorySecurity(const SetupAccount& account);

// A directory's owner and DACL as read back, SIDs in string form.
struct ObservedSecurity {
    std::wstring ownerSid;
    std::vector<std::wstring> grantees;  // the SID of every access-allowed entry
    bool onlyAllowEntries = true;        // false when the DACL holds any other kind of entry, or is missing
};

// Whether a directory is one that setup, running as this account, made: owned by the owner setup gives it
// or by the account's own user, with no entry for anybody but SYSTEM, the user and (elevated) Administrators.
// The user is accepted as owner even when elevated because Wine reports every file as owned by the user, whatever
// owner it was created with.
bool IsSetupsOwnDirectory(const ObservedSecurity& security, const SetupAccount& account);

// Keeps other programs from deleting or renaming a staging directory until the last copy is destroyed; in
// particular it tells other setups' start-up sweep that the directory is in use. It is the handle the
// directory was created through, so everything done through it happens to the directory setup made.
using StagingDirectoryHold = std::shared_ptr<void>;

// Creates the staging directory with setup's own security descriptor and holds it from the creating handle
// on, after checking through that handle that it is a plain directory owned as expected (Windows). Empty
// when any of that fails, including when the name already existed; nothing of its own is left behind then.
StagingDirectoryHold CreateStagingDirectory(const std::filesystem::path& directory);

// The end of an attempt (Windows): deletes the staging file, when it is a plain file, and then the directory
// through the hold, never by a path and never through a link; anything else found in it is left alone, and
// the directory with it. The directory goes when the hold is released. False when another try may succeed
// (the file still in use); true when done, whether or not something had to be left.
bool RemoveStagingDirectory(const StagingDirectoryHold& hold);

// The full path Windows now resolves an open file or directory to ("\\?\C:\..."); nothing when it
// cannot be read (Windows).
std::optional<std::wstring> FinalPathOf(const std::shared_ptr<void>& handle);

// Start-up, before the first attempt: removes from the user's temp folder what setups that were killed
// before their own clean-up left behind (Windows). Only directories with a staging name that no running
// setup holds, that setup's account made (owner and DACL) and that hold nothing but an unused staging file;
// anything else is left alone, and any failure is silent.
void RemoveAbandonedStagingDirectories() noexcept;

}  // namespace lumivance
