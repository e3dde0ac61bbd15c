#pragma once

// Which staging directories are setup's, what it creates them with, and which of them it may remove.
#include <optional>
#include <string>
#include <vector>

namespace lumivance {

// One entry of a directory as a listing shows it.
struct ListedEntry {
    std::wstring name;
    bool isDirectory = false;
    bool isReparsePoint = false;  // a link or junction: never followed, never taken for setup's own file
};

// Whether a staging directory that no running setup holds may be removed at start-up: it holds nothing but
// the staging file as a plain file, or nothing at all. Its age does not matter: setup creates its directory
// already holding it, so one that nobody holds is nobody's, however new.
bool MayRemoveAbandoned(const std::vector<ListedEntry>& entries) noexcept;

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

// Why setup, running as `account`, may not work in a staging directory it has just created, judged from the
// directory's owner and DACL read back through the creating handle and from what the volume says of itself;
// nullptr when it may. On a volume that keeps no permissions (FAT32, exFAT, many RAM disks) every entry is
// open to everyone whatever it was created with: Windows says so in the volume's flags, and where it does not
// (Wine), the descriptor reads back with an Everyone entry that setup never wrote and that nobody else could
// have added to a directory made a moment ago through setup's own handle. Unelevated, that is the user's own
// risk, as it was before setup protected its directory; elevated, it is refused.
const char* StagingRefusal(const ObservedSecurity& observed, const SetupAccount& account,
                           std::optional<bool> volumeKeepsPermissions);

}  // namespace lumivance
