#pragma once

// The few file operations the staging directory and the sweep are built from, each on a handle already held:
// opens relative to a held directory, attribute and listing reads, deletion and the final path. None of them
// looks a path up.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_resource_win.h"
#include "staging/staging_policy.h"

namespace lumivance {

// An open relative to a directory handle: the handle, or the NTSTATUS that says why there is none.
struct RelativeOpen {
    FileHandle handle;
    LONG status = 0;
};

// STATUS_OBJECT_NAME_NOT_FOUND: the directory holds nothing of that name.
inline constexpr LONG kNameNotFound = static_cast<LONG>(0xC0000034);
// STATUS_FILE_IS_A_DIRECTORY: a file was asked for and a directory has the name.
inline constexpr LONG kIsADirectory = static_cast<LONG>(0xC00000BA);

// The dispositions OpenRelative takes, as NtCreateFile spells them (FILE_OPEN, FILE_CREATE).
inline constexpr ULONG kOpenExisting = 1;
inline constexpr ULONG kCreateNew = 2;
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Creates or opens `name` inside the directory `root` names, whatever has happened meanwhile to any path that
// leads there; an empty name opens `root`'s own object again. Reparse points are opened as themselves, never
// followed, and an open that would wait for another program's oplock to break fails at once instead: a
// look-alike held by somebody else must not stall setup.
RelativeOpen OpenRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
                          ULONG options, PSECURITY_DESCRIPTOR security = nullptr);

// Whether the open file or directory has every `wanted` attribute and none of the `unwanted` ones.
bool HasAttributes(HANDLE handle, DWORD wanted, DWORD unwanted);

// Deletes `name` inside `root` (an empty name: `root`'s own object) as it is, never through a link: opened for
// deletion on close, so the one step that could meet another program's oplock is an open, which fails at once
// instead of waiting (a disposition set on a held handle would wait for the break). The entry goes when the
// last handle to it closes; a directory that is not empty stays. The status of the open, 0 on success.
LONG DeleteRelative(HANDLE root, std::wstring_view name, ULONG share, ULONG options);

// Whether `path`, opened the ordinary way (links followed, as CreateProcessW follows them), is the very file or
// directory `held` names: the same volume and the same file ID.
bool PathOpens(const std::wstring& path, HANDLE held);

// Whether the open file or directory is on a volume the system reaches over the network.
bool OnRemoteVolume(HANDLE handle);

// What the directory holds, but "." and "..": listed through the handle, so it is the directory the handle
// names, and stopped after two entries, which already make it no staging directory. Nothing when it cannot
// be listed.
std::optional<std::vector<ListedEntry>> ListDirectory(HANDLE directory);

// Where the open file or directory is now, in the plain form a program is started by ("C:\...",
// "\\server\share\..."); nothing when that cannot be read.
std::optional<std::wstring> FinalPathOf(HANDLE handle);

// Whether the volume the open directory is on keeps the security descriptors set on its files. FAT32 and
// exFAT do not; nothing when the volume cannot say.
std::optional<bool> VolumeKeepsPermissions(HANDLE handle);

}  // namespace lumivance
