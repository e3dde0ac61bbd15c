#include "worker/staging_directory.h"

#include <windows.h>

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
    // sharing violation for as long as it runs. Held like this, the directory cannot be swapped underneath.
    const FileHandle held = OpenDirectory(directory, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (!held || !HasAttributes(held.get(), FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_REPARSE_POINT)) {
        return;
    }
    const std::optional<std::vector<ListedEntry>> entries = ListDirectory(held.get());
    if (!entries || !MayRemoveAbandoned(*entries, age)) {
        return;
    }
    if (!entries->empty()) {
        // Deletion with no sharing at all fails while anyone still uses the file: an installer running from
        // it, a setup of an older version that does not hold its directory, a virus scanner.
        const FileHandle file(CreateFileW((directory / kStagingFileName).c_str(), DELETE | FILE_READ_ATTRIBUTES, 0,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file || !HasAttributes(file.get(), 0, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT) ||
            !DeleteWhenClosed(file.get())) {
            return;
        }
    }
    DeleteWhenClosed(held.get());
}

}  // namespace

StagingDirectoryHold HoldStagingDirectory(const path& directory)
{
    return ShareFileHandle(OpenDirectory(directory, 0, FILE_SHARE_READ | FILE_SHARE_WRITE));
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
