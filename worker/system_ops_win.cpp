#include "worker/system_ops.h"

#include <windows.h>
#include <objbase.h>

#include <array>
#include <system_error>
#include <thread>

#include "worker/win_handles.h"

namespace lumivance {

namespace {
constexpr int kGuidTextCapacity = 40;
}

std::optional<std::wstring> NewGuidText()
{
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) {
        return std::nullopt;
    }
    std::array<wchar_t, kGuidTextCapacity> text{};
    StringFromGUID2(guid, text.data(), kGuidTextCapacity);
    return std::wstring(text.data());
}

StagingFileLock LockStagingFile(const std::filesystem::path& file)
{
    // Read sharing only: the digest pass, WinVerifyTrust and CreateProcessW can still open the file, but
    // nobody can write, rename or delete it while this is held.
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return StagingFileLock(handle, [](void* held) { CloseHandle(held); });
}

bool LaunchAndWait(const std::filesystem::path& file, const std::filesystem::path& workingDirectory,
                   std::uint32_t& exitCode)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + file.wstring() + L"\"";
    if (!CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingDirectory.c_str(), &startup, &process)) {
        return false;
    }
    const KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    threadHandle.reset();  // never needed

    WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD code = exitCode;  // a failed query leaves the value as it was
    GetExitCodeProcess(processHandle.get(), &code);
    exitCode = code;
    return true;
}

bool RemoveTree(const std::filesystem::path& directory)
{
    std::error_code error;
    std::filesystem::remove_all(directory, error);
    return !error;
}

InstallOps SystemInstallOps()
{
    InstallOps ops;
    ops.newGuidText = NewGuidText;
    ops.tempDirectory = [] { return std::filesystem::temp_directory_path(); };
    ops.createDirectory = [](const std::filesystem::path& directory) {
        return std::filesystem::create_directory(directory);
    };
    ops.lockStagingFile = LockStagingFile;
    ops.launchAndWait = LaunchAndWait;
    ops.removeTree = RemoveTree;
    ops.pause = [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); };
    return ops;
}

}  // namespace lumivance
