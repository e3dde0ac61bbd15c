// The workflow's Windows half, and the one place where the real functions of every layer are wired
// together for it.
#include "worker/install_workflow.h"

#include <windows.h>
#include <objbase.h>

#include <array>
#include <thread>

#include "base/unique_resource_win.h"
#include "download/download_installer.h"
#include "verify/verify_installer.h"
#include "worker/app_running.h"
#include "worker/release_selection.h"

namespace lumivance {
namespace {

constexpr int kGuidTextCapacity = 40;

// CoCreateGuid + StringFromGUID2 into a zeroed 40-unit buffer; nothing when CoCreateGuid fails.
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
    return ShareFileHandle(FileHandle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr)));
}

bool LaunchAndWait(const std::filesystem::path& file, const std::filesystem::path& workingDirectory,
                   std::uint32_t& exitCode)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + file.wstring() + L"\"";
    if (!CreateProcessW(file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, workingDirectory.c_str(),
                        &startup, &process)) {
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

}  // namespace

InstallCalls RealInstallCalls()
{
    return {
        .isAppRunning = IsAppRunning,
        .selectReleaseAsset = SelectReleaseAsset,
        .newGuidText = NewGuidText,
        .tempDirectory = [] { return std::filesystem::temp_directory_path(); },
        .createStagingDirectory = CreateStagingDirectory,
        .download = DownloadInstaller,
        .lockStagingFile = LockStagingFile,
        .verify = VerifyInstaller,
        .finalPathOf = FinalPathOf,
        .launchAndWait = LaunchAndWait,
        .removeStagingDirectory = RemoveStagingDirectory,
        .pause = [](std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); },
    };
}

void RunInstall(InstallState* state)
{
    RunInstallWith(*state, RealInstallCalls());
}

}  // namespace lumivance
