#pragma once

#include <cstdint>
#include <functional>

#include "base/install_state.h"

namespace lumivance {

// What setup's entry needs from the layers below it. The product passes the install workflow's
// (app/main_win.cpp). The shell's UI tests build this same entry, dialog and resources around a scripted
// worker instead (tests/windows/scripted_worker_main.cpp): that is the only place where the worker is
// swapped, and nothing on the product's path can switch to it.
struct SetupCalls {
    // Once, before the first attempt: clears what setups killed before their clean-up left behind.
    std::function<void()> removeLeftovers;
    // The body of each attempt's worker thread.
    std::function<void(InstallState*)> runInstall;
    // The flags of the window station setup runs on (UOI_FLAGS): whether anybody can see its boxes.
    std::function<std::uint32_t()> windowStationFlags;
};

// The flags of the process's window station, as GetUserObjectInformationW reports them; the visible flag
// alone when they cannot be read, so that setup then behaves as it always did (Windows).
std::uint32_t ProcessWindowStationFlags();

// The UI thread's whole life: hardens the DLL search, binds the common controls, takes the single-instance
// mutex, clears leftovers, runs attempts with their dialog and Retry/Cancel box, and returns the process
// exit code. On a window station that nobody sees (SYSTEM under a deployment tool), every box is answered as
// Cancel would be, since a box there would wait for ever and the deployment with it. Called by wWinMain,
// whose caller is the C runtime's start-up code, which no exception can unwind through (DWARF unwinding,
// 32-bit MinGW): noexcept, so a stray one ends the process here.
int SetupMainWith(const SetupCalls& calls) noexcept;

}  // namespace lumivance
