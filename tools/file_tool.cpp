// Another process for the file tests: what a second program of the same user could do to a file.
//   file_tool hold <exclusive|writer|directory> <file> <events>
//       opens the file (exclusive: for reading, shared with nobody; writer: for reading and writing, shared
//       for both; directory: a folder, for listing, shared for reading and writing but not deletion, as a
//       running setup holds its staging directory), sets the event "<events>.ready", and keeps the file
//       until "<events>.release" is set (at most a minute).
//   file_tool write <file>            writes one byte at the start of the existing file
//   file_tool rename <file> <to>      renames the file
//   file_tool replace <from> <file>   moves another file over it
//   file_tool delete <file>
//   file_tool rmdir <folder>          removes an empty folder
// The exit code is 0 on success, otherwise the Windows error code of the failed step.
#include <windows.h>

#include <string>

namespace {

constexpr DWORD kLongestHold = 60000;

DWORD Hold(const std::wstring& how, const wchar_t* file, const std::wstring& events)
{
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, (events + L".ready").c_str());
    const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, (events + L".release").c_str());
    if (ready == nullptr || release == nullptr) {
        return GetLastError();
    }
    const bool exclusive = how == L"exclusive";
    const bool directory = how == L"directory";
    const DWORD access = exclusive   ? GENERIC_READ
                         : directory ? FILE_LIST_DIRECTORY | SYNCHRONIZE
                                     : GENERIC_READ | GENERIC_WRITE;
    const DWORD share = exclusive ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const DWORD flags = directory ? FILE_FLAG_BACKUP_SEMANTICS : FILE_ATTRIBUTE_NORMAL;
    const HANDLE held = CreateFileW(file, access, share, nullptr, OPEN_EXISTING, flags, nullptr);
    if (held == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    SetEvent(ready);
    WaitForSingleObject(release, kLongestHold);
    CloseHandle(held);
    return 0;
}

DWORD WriteOneByte(const wchar_t* file)
{
    const HANDLE handle = CreateFileW(file, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    const char byte = 'X';
    DWORD written = 0;
    const DWORD result = WriteFile(handle, &byte, 1, &written, nullptr) ? 0 : GetLastError();
    CloseHandle(handle);
    return result;
}

DWORD Outcome(BOOL succeeded)
{
    return succeeded ? 0 : GetLastError();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"hold" && argc == 5) {
        return static_cast<int>(Hold(argv[2], argv[3], argv[4]));
    }
    if (command == L"write" && argc == 3) {
        return static_cast<int>(WriteOneByte(argv[2]));
    }
    if (command == L"rename" && argc == 4) {
        return static_cast<int>(Outcome(MoveFileExW(argv[2], argv[3], 0)));
    }
    if (command == L"replace" && argc == 4) {
        return static_cast<int>(Outcome(MoveFileExW(argv[2], argv[3], MOVEFILE_REPLACE_EXISTING)));
    }
    if (command == L"delete" && argc == 3) {
        return static_cast<int>(Outcome(DeleteFileW(argv[2])));
    }
    if (command == L"rmdir" && argc == 3) {
        return static_cast<int>(Outcome(RemoveDirectoryW(argv[2])));
    }
    return ERROR_BAD_ARGUMENTS;
}
