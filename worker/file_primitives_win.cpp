#include "worker/file_primitives_win.h"

#include <winternl.h>

#include <array>
#include <cstddef>

#include "worker/launch_path.h"

namespace lumivance {
namespace {

using NtCreateFileCall = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK, PLARGE_INTEGER,
                                          ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

constexpr LONG kNoEntryPoint = static_cast<LONG>(0xC0000139);  // STATUS_ENTRYPOINT_NOT_FOUND

}  // namespace

RelativeOpen OpenRelative(HANDLE root, std::wstring_view name, ACCESS_MASK access, ULONG share, ULONG disposition,
                          ULONG options, PSECURITY_DESCRIPTOR security)
{
    // The one call that opens relative to a handle is ntdll's, which every process has mapped.
    static const auto ntCreateFile = reinterpret_cast<NtCreateFileCall>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
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

bool DeleteWhenClosed(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
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
