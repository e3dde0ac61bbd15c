#include "app/setup_main.h"

#include <windows.h>
#include <commctrl.h>

#include <utility>

#include "app/attempt_loop.h"
#include "app/dll_search_win.h"
#include "app/progress_dialog_win.h"
#include "base/unique_resource_win.h"
#include "catalogue.h"

namespace lumivance {
namespace {

constexpr wchar_t kMutexName[] = L"Local\\LumivanceInstaller";
constexpr int kExitAlreadyRunning = 1;
static_assert(sizeof(INITCOMMONCONTROLSEX) == 8);

AttemptCalls RealAttemptCalls(const SetupCalls& setup, bool someoneCanAnswer)
{
    return {
        // The thread's first frames are Windows' and winpthreads', which DWARF unwinding (32-bit MinGW)
        // cannot cross: the worker's body is noexcept, so a stray exception ends the process right here.
        .startWorker =
            [&setup](InstallState* state) {
                return std::thread([run = setup.runInstall, state]() noexcept { run(state); });
            },
        .showProgress = [](InstallState& state) -> std::int32_t { return ShowProgressDialog(state); },
        .askRetry =
            [someoneCanAnswer](const std::wstring& text) {
                return someoneCanAnswer &&
                       MessageBoxW(nullptr, text.c_str(), kSetupTitle, MB_ICONERROR | MB_RETRYCANCEL) == IDRETRY;
            },
    };
}

}  // namespace

std::uint32_t ProcessWindowStationFlags()
{
    USEROBJECTFLAGS flags{};
    if (!GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr)) {
        return WSF_VISIBLE;
    }
    return flags.dwFlags;
}

static_assert(noexcept(SetupMainWith(std::declval<const SetupCalls&>())), "wWinMain's caller is the C runtime");

int SetupMainWith(const SetupCalls& calls) noexcept
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

    const bool someoneCanAnswer = SomeoneCanAnswer(calls.windowStationFlags());
    const KernelHandle mutex(CreateMutexW(nullptr, FALSE, kMutexName));
    if (!mutex || GetLastError() == ERROR_ALREADY_EXISTS) {
        if (someoneCanAnswer) {
            MessageBoxW(nullptr, kSetupAlreadyRunning, kSetupAlreadyRunningCaption, MB_ICONINFORMATION);
        }
        return kExitAlreadyRunning;
    }

    if (calls.removeLeftovers) {
        calls.removeLeftovers();
    }

    InstallState state;
    // The exit code's 32 bits reach Windows unchanged through the int.
    return static_cast<int>(RunAttemptsWith(state, RealAttemptCalls(calls, someoneCanAnswer)));
}

}  // namespace lumivance
