#pragma once

#include <windows.h>

#include <concepts>
#include <cstdint>
#include <string>
#include <thread>

#include "app/attempt_loop.h"
#include "app/progress_dialog_win.h"
#include "base/install_state.h"
#include "base/unique_resource_win.h"

namespace lumivance {

// What setup's entry needs from the layers below it. The product's is in app/main_win.cpp. The shell's UI
// tests build this same entry, dialog and resources around a scripted worker instead
// (tests/windows/scripted_worker_main.cpp): that is the only place where the worker is swapped, and nothing
// on the product's path can switch to it.
template <typename System>
concept SetupSystem = requires(System& system, InstallState* state)
{
    // Once, before the first attempt: clears what setups killed before their clean-up left behind.
    system.RemoveLeftovers();
    // The body of each attempt's worker thread.
    system.RunInstall(state);
    // The flags of the window station setup runs on (UOI_FLAGS): whether anybody can see its boxes.
    requires std::same_as<decltype(system.WindowStationFlags()), std::uint32_t>;
};

// The flags of the process's window station, as GetUserObjectInformationW reports them; the visible flag
// alone when they cannot be read, so that setup then behaves as it always did.
std::uint32_t ProcessWindowStationFlags();

namespace setup_main {

inline constexpr int kExitAlreadyRunning = 1;

// Restricts DLL loading to System32 and binds the common controls: before anything can load a DLL.
void HardenProcess() noexcept;
// The single-instance mutex, held for as long as the owner lives; empty when another copy holds it, after
// saying so in a box when someone can answer.
KernelHandle TakeSingleInstance(bool someoneCanAnswer) noexcept;
// Shows a failure in the Retry/Cancel box; true when the user chose Retry.
bool AskRetryInBox(const std::wstring& text);

}  // namespace setup_main

// The attempt loop's worker thread, progress dialog and message box, around the system's workflow.
template <SetupSystem System>
class WindowsAttempts {
public:
    WindowsAttempts(System& system, bool someoneCanAnswer) : system_(system), someoneCanAnswer_(someoneCanAnswer) {}

    std::thread StartWorker(InstallState* state)
    {
        // The thread's first frames are Windows' and winpthreads', which DWARF unwinding (32-bit MinGW)
        // cannot cross: the worker's body is noexcept, so a stray exception ends the process right here.
        return std::thread([this, state]() noexcept { system_.RunInstall(state); });
    }
    std::int32_t ShowProgress(InstallState& state) { return ShowProgressDialog(state); }
    bool AskRetry(const std::wstring& text) { return someoneCanAnswer_ && setup_main::AskRetryInBox(text); }

private:
    System& system_;
    const bool someoneCanAnswer_;
};

// The UI thread's whole life: hardens the DLL search, binds the common controls, takes the single-instance
// mutex, clears leftovers, runs attempts with their dialog and Retry/Cancel box, and returns the process
// exit code. On a window station that nobody sees (SYSTEM under a deployment tool), every box is answered as
// Cancel would be, since a box there would wait for ever and the deployment with it. Called by wWinMain,
// whose caller is the C runtime's start-up code, which no exception can unwind through (DWARF unwinding,
// 32-bit MinGW): noexcept, so a stray one ends the process here.
template <SetupSystem System>
int SetupMainWith(System& system) noexcept
{
    setup_main::HardenProcess();

    const bool someoneCanAnswer = SomeoneCanAnswer(system.WindowStationFlags());
    const KernelHandle instance = setup_main::TakeSingleInstance(someoneCanAnswer);
    if (!instance) {
        return setup_main::kExitAlreadyRunning;
    }

    system.RemoveLeftovers();

    InstallState state;
    WindowsAttempts<System> attempts(system, someoneCanAnswer);
    // The exit code's 32 bits reach Windows unchanged through the int.
    return static_cast<int>(RunAttemptsWith(state, attempts));
}

}  // namespace lumivance
