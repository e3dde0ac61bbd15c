#include "worker/install_workflow.h"

#include <windows.h>
#include <objbase.h>

#include <array>
#include <thread>

#include "base/unique_resource_win.h"
#include "catalogue.h"
#include "verify/verify_installer_win.h"
#include "worker/app_running.h"
#include "worker/install_system_win.h"
#include "worker/release_selection.h"

namespace lumivance {
namespace {

constexpr int kGuidTextCapacity = 40;

}  // namespace

bool WindowsInstallSystem::IsAppRunning()
{
    return lumivance::IsAppRunning();
}

const ReleaseAsset& WindowsInstallSystem::SelectReleaseAsset()
{
    return lumivance::SelectReleaseAsset();
}

std::optional<std::wstring> WindowsInstallSystem::NewGuidText()
{
    GUID guid{};
    if (FAILED(CoCreateGuid(&guid))) {
        return std::nullopt;
    }
    std::array<wchar_t, kGuidTextCapacity> text{};
    StringFromGUID2(guid, text.data(), kGuidTextCapacity);
    return std::wstring(text.data());
}

std::filesystem::path WindowsInstallSystem::TempDirectory()
{
    return std::filesystem::temp_directory_path();
}

StagingDirectory WindowsInstallSystem::CreateStaging(const std::filesystem::path& temp, std::wstring_view name)
{
    return StagingDirectory::Create(temp, name);
}

DownloadResponse WindowsInstallSystem::OpenDownload(const ReleaseAsset& release, const std::wstring& host,
                                                    std::uint16_t port)
{
    return lumivance::OpenDownload(release, host, port);
}

void WindowsInstallSystem::ReceiveDownload(const DownloadResponse& response, FileHandle file,
                                           const ReleaseAsset& release, InstallState& state)
{
    lumivance::ReceiveDownload(response, std::move(file), release, state);
}

void WindowsInstallSystem::Verify(Staging& staging, const ReleaseAsset& release)
{
    const std::optional<InstallerPaths> paths = staging.InstallerPathsNow();
    if (!paths) {
        throw std::runtime_error(kDownloadNotVerified);
    }
    VerifyInstaller(staging.LockedFile(), paths->file, release);
}

bool WindowsInstallSystem::LaunchAndWait(Staging& staging, std::uint32_t& exitCode)
{
    // Read from the handles now, not kept from earlier: this is where the verified file is at this moment,
    // and nobody can move it or the directory while both are held.
    const std::optional<InstallerPaths> paths = staging.InstallerPathsNow();
    if (!paths || !CanStartFrom(paths->file, paths->directory)) {
        return false;
    }
    // Proved again right before the call: what these paths open now is the locked file and the held directory.
    if (const char* refusal = staging.StartRefusal(*paths)) {
        throw std::runtime_error(refusal);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + paths->file + L"\"";
    if (!CreateProcessW(paths->file.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        paths->directory.c_str(), &startup, &process)) {
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

void WindowsInstallSystem::Pause(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

static_assert(InstallSystem<WindowsInstallSystem>);

void RunInstall(InstallState* state) noexcept
{
    WindowsInstallSystem system;
    RunInstallWith(*state, system);
}

}  // namespace lumivance
