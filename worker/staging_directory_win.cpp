#include "worker/staging_directory.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "base/unique_resource_win.h"

namespace lumivance {
namespace {

using std::filesystem::path;

// Listing access is what makes Windows check the sharing of every later open against this one (a handle
// that may only read attributes is not checked), so a hold without delete sharing keeps everybody else's
// delete and rename away. Reparse points are opened as themselves, never followed.
FileHandle OpenDirectory(const path& directory, DWORD extraAccess, DWORD share)
{
    constexpr DWORD kAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
    return FileHandle(CreateFileW(directory.c_str(), kAccess | extraAccess, share, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

// Creates or opens `name` inside the directory that `root` names, whatever has happened meanwhile to the path
// the directory was reached by: the one call that does this is ntdll's, which every process has mapped.
// Reparse points are opened as themselves, never followed.
FileHandle OpenInDirectory(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
                           ULONG options, PSECURITY_DESCRIPTOR security = nullptr)
{
    static const auto ntCreateFile = reinterpret_cast<NtCreateFileCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    if (ntCreateFile == nullptr) {
        return FileHandle();
    }
    std::wstring buffer(name);
    UNICODE_STRING unicodeName{};
    unicodeName.Buffer = buffer.data();
    unicodeName.Length = static_cast<USHORT>(buffer.size() * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, root, security);
    IO_STATUS_BLOCK status{};
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS result =
        ntCreateFile(&opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
                     disposition, options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    return FileHandle(NT_SUCCESS(result) ? opened : INVALID_HANDLE_VALUE);
}

std::optional<std::wstring> SidText(PSID sid)
{
    LocalMemory text;
    if (sid == nullptr || !ConvertSidToStringSidW(sid, reinterpret_cast<LPWSTR*>(text.put()))) {
        return std::nullopt;
    }
    return std::wstring(static_cast<const wchar_t*>(text.get()));
}

// The account the process token names, or nothing when the token cannot be read.
std::optional<SetupAccount> CurrentAccount()
{
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) {
        return std::nullopt;
    }
    alignas(TOKEN_USER) std::array<std::byte, sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE> user{};
    DWORD length = 0;
    TOKEN_ELEVATION elevation{};
    if (!GetTokenInformation(token.get(), TokenUser, user.data(), static_cast<DWORD>(user.size()), &length) ||
        !GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &length)) {
        return std::nullopt;
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    const std::optional<std::wstring> sidText = SidText(sid);
    if (!sidText) {
        return std::nullopt;
    }
    return SetupAccount{*sidText, elevation.TokenIsElevated != 0 || IsWellKnownSid(sid, WinLocalSystemSid)};
}

// Owner and DACL as the system reports them for the open directory; nothing when they cannot be read.
std::optional<ObservedSecurity> ReadSecurity(HANDLE directory)
{
    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    if (GetSecurityInfo(directory, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                        nullptr, &dacl, nullptr,
                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const std::optional<std::wstring> ownerText = SidText(owner);
    if (!ownerText) {
        return std::nullopt;
    }
    ObservedSecurity security{*ownerText, {}, dacl != nullptr};
    for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
        void* entry = nullptr;
        if (!GetAce(dacl, index, &entry) || static_cast<const ACE_HEADER*>(entry)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            security.onlyAllowEntries = false;
            continue;
        }
        const std::optional<std::wstring> grantee = SidText(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart);
        security.grantees.push_back(grantee.value_or(L""));
    }
    return security;
}

bool IsSetupsOwn(HANDLE directory)
{
    const std::optional<SetupAccount> account = CurrentAccount();
    const std::optional<ObservedSecurity> security = ReadSecurity(directory);
    return account && security && IsSetupsOwnDirectory(*security, *account);
}

bool HasAttributes(HANDLE handle, DWORD wanted, DWORD unwanted)
{
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(handle, &information) && (information.dwFileAttributes & wanted) == wanted &&
           (information.dwFileAttributes & unwanted) == 0;
}

// Marks the file or (empty) directory for deletion when the handle closes. Windows refuses it for a
// directory that is not empty, so nothing but what the handle names can go.
bool DeleteWhenClosed(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// What the directory holds, but "." and "..": listed through the handle, so it is the directory the handle
// names, and stopped after two entries, which already make it no staging directory. Nothing when it cannot
// be listed.
std::optional<std::vector<ListedEntry>> ListDirectory(HANDLE directory)
{
    alignas(FILE_ID_BOTH_DIR_INFO) std::array<std::byte, 4096> buffer{};
    std::vector<ListedEntry> entries;
    FILE_INFO_BY_HANDLE_CLASS request = FileIdBothDirectoryRestartInfo;
    while (entries.size() < 2) {
        if (!GetFileInformationByHandleEx(directory, request, buffer.data(), static_cast<DWORD>(buffer.size()))) {
            if (GetLastError() == ERROR_NO_MORE_FILES) {
                break;
            }
            return std::nullopt;
        }
        request = FileIdBothDirectoryInfo;
        for (std::size_t offset = 0;;) {
            const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + offset);
            const std::wstring_view name(entry.FileName, entry.FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                entries.push_back({std::wstring(name), (entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                   (entry.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
            }
            if (entry.NextEntryOffset == 0) {
                break;
            }
            offset += entry.NextEntryOffset;
        }
    }
    return entries;
}

std::uint64_t Ticks(FILETIME time)
{
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::chrono::seconds AgeOf(FILETIME created)
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;  // FILETIME counts 100 ns
    const std::uint64_t later = Ticks(now), earlier = Ticks(created);
    return std::chrono::seconds(later > earlier ? (later - earlier) / kTicksPerSecond : 0);
}

bool IsStagingFile(const ListedEntry& entry)
{
    // The exact name, as setup writes it: a listing shows names as they were created.
    return entry.name == kStagingFileName && !entry.isDirectory && !entry.isReparsePoint;
}

enum class Removal { Done, TryAgain, LeftAlone };

// What both the attempt's clean-up and the start-up sweep do to a directory they hold with delete access:
// the staging file, opened through the directory's handle, goes first; then the directory, unless the
// listing showed anything else. Deletion with no sharing at all fails while anyone still uses the file: an
// installer running from it, a setup of an older version that does not hold its directory, a virus scanner.
Removal RemoveHeldContents(HANDLE directory, const std::vector<ListedEntry>& entries)
{
    bool foreign = false;
    for (const ListedEntry& entry : entries) {
        if (!IsStagingFile(entry)) {
            foreign = true;
            continue;
        }
        const FileHandle file = OpenInDirectory(directory, kStagingFileName, DELETE | FILE_READ_ATTRIBUTES, 0,
                                                FILE_OPEN, FILE_NON_DIRECTORY_FILE);
        if (!file || !HasAttributes(file.get(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
            !DeleteWhenClosed(file.get())) {
            return Removal::TryAgain;
        }
    }
    if (foreign) {
        return Removal::LeftAlone;
    }
    return DeleteWhenClosed(directory) ? Removal::Done : Removal::TryAgain;
}

void RemoveIfAbandoned(const path& directory, std::chrono::seconds age)
{
    // Looked at first through a handle that asks for no delete access and shares everything, so that it
    // cannot disturb a setup that is just taking hold of the directory.
    {
        const FileHandle look = OpenDirectory(directory, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
        const std::optional<std::vector<ListedEntry>> before = look ? ListDirectory(look.get()) : std::nullopt;
        if (!before || !MayRemoveAbandoned(*before, age)) {
            return;
        }
    }
    // A running setup holds its directory without delete sharing, so asking for delete access fails with a
    // sharing violation for as long as it runs. Held like this, the directory cannot be swapped underneath,
    // and a directory that another account made, or gave other rights, is never setup's to remove.
    const FileHandle held = OpenDirectory(directory, DELETE | READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!held || !HasAttributes(held.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsSetupsOwn(held.get())) {
        return;
    }
    const std::optional<std::vector<ListedEntry>> entries = ListDirectory(held.get());
    if (entries && MayRemoveAbandoned(*entries, age)) {
        RemoveHeldContents(held.get(), *entries);
    }
}

// See OpenDirectory; without delete access, a process can still be started with the directory as its
// current directory.
constexpr DWORD kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES;
constexpr DWORD kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// What a staging directory's hold owns. The handle the hold hands out is the anchor, which asks for nothing
// that sharing is checked against: it names the directory setup created for as long as the hold lives,
// whatever happens to its path, and it is what delete access is later taken from.
struct HeldDirectory {
    FileHandle blocker;
    FileHandle anchor;
    FileHandle removal;  // delete access, once the clean-up has begun

    void operator()(void*) noexcept
    {
        blocker.reset();
        removal.reset();
        anchor.reset();
    }
};

FileHandle ReopenForRemoval(HANDLE anchor)
{
    return FileHandle(ReOpenFile(anchor, kHoldAccess | DELETE, kHoldSharing,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
}

}  // namespace

StagingDirectoryHold CreateStagingDirectory(const path& directory)
{
    const std::optional<SetupAccount> account = CurrentAccount();
    LocalMemory security;
    if (!account || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                        StagingDirectorySecurity(*account).c_str(), SDDL_REVISION_1,
                        reinterpret_cast<PSECURITY_DESCRIPTOR*>(security.put()), nullptr)) {
        return nullptr;
    }
    // The temp folder itself may lawfully be reached through a link, so it is opened the ordinary way; the
    // staging directory is created inside that handle and held from the creating handle on, so there is no
    // moment in which it could be swapped for another one before it is held.
    const FileHandle parent(CreateFileW(directory.parent_path().c_str(), FILE_TRAVERSE | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!parent) {
        return nullptr;
    }
    HeldDirectory held;
    held.blocker = OpenInDirectory(parent.get(), directory.filename().wstring(), kHoldAccess | READ_CONTROL,
                                   kHoldSharing, FILE_CREATE, FILE_DIRECTORY_FILE, security.get());
    if (!held.blocker) {
        return nullptr;
    }
    held.anchor = FileHandle(ReOpenFile(held.blocker.get(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
    if (!held.anchor || !HasAttributes(held.blocker.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT) ||
        !IsSetupsOwn(held.blocker.get())) {
        if (held.anchor) {
            held.blocker.reset();
            const FileHandle removal = ReopenForRemoval(held.anchor.get());
            DeleteWhenClosed(removal.get());  // made just now, and empty
        }
        return nullptr;
    }
    const HANDLE anchor = held.anchor.get();
    return StagingDirectoryHold(anchor, std::move(held));
}

bool RemoveStagingDirectory(const StagingDirectoryHold& hold)
{
    HeldDirectory* const held = std::get_deleter<HeldDirectory>(hold);
    if (held == nullptr) {
        return true;  // not a hold this unit made: nothing it may do to it
    }
    // Delete access cannot be had while the blocker denies delete sharing, and the blocker cannot have it
    // either: any handle with delete access keeps an installer from being started in the directory, since
    // every process opens its current directory without delete sharing.
    held->blocker.reset();
    if (!held->removal) {
        held->removal = ReopenForRemoval(held->anchor.get());
    }
    const std::optional<std::vector<ListedEntry>> entries =
        held->removal ? ListDirectory(held->removal.get()) : std::nullopt;
    return entries && RemoveHeldContents(held->removal.get(), *entries) != Removal::TryAgain;
}

std::optional<std::wstring> FinalPathOf(const std::shared_ptr<void>& handle)
{
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle.get(), text.data(), static_cast<DWORD>(text.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return std::nullopt;
        }
        if (length < text.size()) {
            text.resize(length);
            return text;
        }
        text.resize(length);  // too small: the length needed, with the terminating zero
    }
}

void RemoveAbandonedStagingDirectories() noexcept
{
    try {
        const path temp = std::filesystem::temp_directory_path();
        WIN32_FIND_DATAW found{};
        const std::wstring pattern = (temp / kStagingDirectoryPrefix).wstring() + L"*";
        const FindHandle find(
            FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchLimitToDirectories, nullptr, 0));
        if (!find) {
            return;
        }
        do {
            const bool plainDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
            if (plainDirectory && IsStagingDirectoryName(found.cFileName)) {
                RemoveIfAbandoned(temp / found.cFileName, AgeOf(found.ftCreationTime));
            }
        } while (FindNextFileW(find.get(), &found));
    } catch (...) {
        // A leftover that cannot be removed now is looked at again by the next setup; nothing here may keep
        // this one from running.
    }
}

}  // namespace lumivance
