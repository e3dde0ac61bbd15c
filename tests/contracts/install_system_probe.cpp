// The smallest system the install workflow accepts, built once whole and once without each member in turn
// (-DLACKS_<member>): the whole one must compile and every other must fail on the workflow's contract.
#include "worker/install_workflow.h"

namespace lumivance {
namespace {

struct ProbeStaging {
#ifndef LACKS_ExpectedInstallerPaths
    std::optional<InstallerPaths> ExpectedInstallerPaths() const
    {
        return std::nullopt;
    }
#endif
#ifndef LACKS_StartRefusal
    const char* StartRefusal(const InstallerPaths&) const
    {
        return nullptr;
    }
#endif
#ifndef LACKS_NewDownloadFile
    int NewDownloadFile() const
    {
        return 0;
    }
#endif
#ifndef LACKS_LockFile
    bool LockFile()
    {
        return true;
    }
#endif
#ifndef LACKS_Remove
    bool Remove()
    {
        return true;
    }
#endif
};

struct ProbeSystem {
    using Staging = ProbeStaging;
    struct DownloadResponse {};

#ifndef LACKS_IsAppRunning
    bool IsAppRunning()
    {
        return false;
    }
#endif
#ifndef LACKS_SelectReleaseAsset
    const ReleaseAsset& SelectReleaseAsset()
    {
        return release;
    }
#endif
#ifndef LACKS_NewGuidText
    std::optional<std::wstring> NewGuidText()
    {
        return std::nullopt;
    }
#endif
#ifndef LACKS_TempDirectory
    std::filesystem::path TempDirectory()
    {
        return {};
    }
#endif
#ifndef LACKS_CreateStaging
    Staging CreateStaging(const std::filesystem::path&, std::wstring_view)
    {
        return {};
    }
#endif
#ifndef LACKS_OpenDownload
    DownloadResponse OpenDownload(const ReleaseAsset&, const std::wstring&, std::uint16_t)
    {
        return {};
    }
#endif
#ifndef LACKS_ReceiveDownload
    void ReceiveDownload(DownloadResponse&, int, const ReleaseAsset&, InstallState&) {}
#endif
#ifndef LACKS_Verify
    void Verify(Staging&, const ReleaseAsset&) {}
#endif
#ifndef LACKS_LaunchAndWait
    bool LaunchAndWait(Staging&, std::uint32_t&)
    {
        return false;
    }
#endif
#ifndef LACKS_Pause
    void Pause(std::chrono::milliseconds) {}
#endif

    ReleaseAsset release{L"/probe", "", 1};
};

}  // namespace

void RunProbe(InstallState& state)
{
    ProbeSystem system;
    RunInstallWith(state, system);
}

}  // namespace lumivance
