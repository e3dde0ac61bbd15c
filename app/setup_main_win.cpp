#include "app/setup_main_win.h"

#include <windows.h>
#include <commctrl.h>

#include "app/dll_search_win.h"
#include "app/progress_dialog.h"
#include "catalogue.h"

namespace lumivance {
namespace {

constexpr wchar_t kMutexName[] = L"Local\\LumivanceInstaller";
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);

}  // namespace

std::uint32_t ProcessWindowStationFlags()
{
    USEROBJECTFLAGS flags{};
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        return WSF_VISIBLE;
    }
    return flags.dwFlags;
}

namespace setup_main {

void HardenProcess() noexcept
{
    // Before anything can load a DLL: from here on DLLs come from System32 only, never from the folder
    // setup was started from. Every DLL but KERNEL32 and msvcrt is delay-loaded, so none came earlier.
    RestrictDllLoadingToSystem32();

    // Before any box too: a message box loads the version 6 common controls itself (the manifest redirects
    // its buttons there), whose theming then binds msimg32 lazily, from setup's folder unless the first call
    // into comctl32, here, has bound it from System32 already (app/dll_search_win.cpp).
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);
}

KernelHandle TakeSingleInstance(bool someoneCanAnswer) noexcept
{
    KernelHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (someoneCanAnswer) {
            MessageBoxW(nullptr, kSetupAlreadyRunning, kSetupAlreadyRunningCaption, MB_ICONINFORMATION);
        }
        return {};
    }
    return mutex;
}

bool AskRetryInBox(const std::wstring& text)
{
    return MessageBoxW(nullptr, text.c_str(), kSetupTitle, MB_ICONERROR | MB_RETRYCANCEL) == IDRETRY;
}

}  // namespace setup_main
}  // namespace lumivance
