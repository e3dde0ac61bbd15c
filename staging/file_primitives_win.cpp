#include "staging/file_primitives_win.h"

#include <winternl.h>

#include <array>
#include <cstddef>
#include <cstring>

#include "base/loaded_function_win.h"
#include "staging/launch_path.h"

namespace lumivance {
namespace {

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

constexpr LONG kNoEntryPoint = static_cast<LONG>(0xC0000139);  // STATUS_ENTRYPOINT_NOT_FOUND

// What NtQueryVolumeInformationFile reports for FileFsDeviceInformation: the device type and its
// characteristics, FILE_REMOTE_DEVICE among them.
struct DeviceInformation {
    ULONG deviceType;
    ULONG characteristics;
};
using NtQueryVolumeInformationFileCall = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FS_INFORMATION_CLASS);
constexpr ULONG kRemoteDevice = 0x00000010;  // FILE_REMOTE_DEVICE

}  // namespace

RelativeOpen OpenRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
                          ULONG options, PSECURITY_DESCRIPTOR security)
{
    // The one call that opens relative to a handle is ntdll's, which every process has mapped.
    static const auto ntCreateFile = LoadedFunction<NtCreateFileCall>(L"ntdll.dll", "NtCreateFile");
    if (ntCreateFile == nullptr) {
        return {FileHandle(), kNoEntryPoint};
    }
    std::wstring buffer(name);
    UNICODE_STRING unicodeName{};
    unicodeName.Buffer = buffer.data();
    unicodeName.Length = static_cast<USHORT>(buffer.size() * sizeof(wchar_t));
    unicodeName.MaximumLength = unicodeName.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &unicodeName, OBJ_CASE_INSENSITIVE, root, security);
    IO_STATUS_BLOCK io{};
    HANDLE opened = INVALID_HANDLE_VALUE;
    const NTSTATUS status = ntCreateFile(
        &opened, access | SYNCHRONIZE, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, share, disposition,
        options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED, nullptr, 0);
    if (status == 0) {
        return {FileHandle(opened), 0};
    }
    // Success codes but STATUS_SUCCESS (an oplock break in progress) still hand out a handle: not one to use.
    if (NT_SUCCESS(status)) {
        CloseHandle(opened);
    }
    return {FileHandle(), status};
}

bool HasAttributes(HANDLE handle, DWORD wanted, DWORD unwanted)
{
    BY_HANDLE_FILE_INFORMATION information{};
    return GetFileInformationByHandle(handle, &information) && (information.dwFileAttributes & wanted) == wanted &&
           (information.dwFileAttributes & unwanted) == 0;
}

LONG DeleteRelative(HANDLE root, std::wstring_view name, ULONG share, ULONG options)
{
    // A success code other than STATUS_SUCCESS (a break in progress) closes the handle at once, and the
    // entry goes once the other program lets go of it: what was judged removable is removed a moment later.
    return OpenRelative(root, name, DELETE | FILE_READ_ATTRIBUTES, share, kOpenExisting, options | FILE_DELETE_ON_CLOSE)
        .status;
}

bool PathOpens(const std::wstring& path, HANDLE held)
{
    const FileHandle opened(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!opened) {
        return false;
    }
    // The 128-bit ID where the volume has one (ReFS), else the 64-bit index every volume gives.
    FILE_ID_INFO openedId{}, heldId{};
    if (GetFileInformationByHandleEx(opened.get(), FileIdInfo, &openedId, sizeof openedId) &&
        GetFileInformationByHandleEx(held, FileIdInfo, &heldId, sizeof heldId)) {
        return openedId.VolumeSerialNumber == heldId.VolumeSerialNumber &&
               std::memcmp(&openedId.FileId, &heldId.FileId, sizeof openedId.FileId) == 0;
    }
    BY_HANDLE_FILE_INFORMATION openedInfo{}, heldInfo{};
    return GetFileInformationByHandle(opened.get(), &openedInfo) && GetFileInformationByHandle(held, &heldInfo) &&
           openedInfo.dwVolumeSerialNumber == heldInfo.dwVolumeSerialNumber &&
           openedInfo.nFileIndexHigh == heldInfo.nFileIndexHigh && openedInfo.nFileIndexLow == heldInfo.nFileIndexLow;
}

bool OnRemoteVolume(HANDLE handle)
{
    static const auto query =
        LoadedFunction<NtQueryVolumeInformationFileCall>(L"ntdll.dll", "NtQueryVolumeInformationFile");
    DeviceInformation device{};
    IO_STATUS_BLOCK io{};
    // Unknown counts as remote: only an elevated setup asks, and it refuses then.
    return query == nullptr || query(handle, &io, &device, sizeof device, FileFsDeviceInformation) != 0 ||
           (device.characteristics & kRemoteDevice) != 0;
}

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

std::optional<std::wstring> FinalPathOf(HANDLE handle)
{
    std::wstring text(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFinalPathNameByHandleW(handle, text.data(), static_cast<DWORD>(text.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return std::nullopt;
        }
        if (length < text.size()) {
            text.resize(length);
            return PlainPath(text);
        }
        text.resize(length);  // too small: the length needed, with the terminating zero
    }
}

std::optional<bool> VolumeKeepsPermissions(HANDLE handle)
{
    DWORD flags = 0;
    if (!GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0)) {
        return std::nullopt;
    }
    return (flags & FILE_PERSISTENT_ACLS) != 0;
}

}  // namespace lumivance
