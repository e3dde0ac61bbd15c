#include "worker/release_selection.h"

#include <windows.h>

#include "base/loaded_function_win.h"

namespace lumivance {

namespace {

// IsWow64Process2 arrived with Windows 10 1709: importing it would stop setup from even loading on older
// systems, which must instead fall back to GetNativeSystemInfo. The headers, told the oldest Windows setup
// runs on, do not declare it, so its type is spelled out as Windows 10's headers give it.
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);

}  // namespace

const ReleaseAsset& SelectReleaseAsset()
{
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    ArchitectureObservations observed{.processorArchitecture = system.wProcessorArchitecture};

    const auto isWow64Process2 = LoadedFunction<IsWow64Process2Function>(L"kernel32.dll", "IsWow64Process2");
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
        observed.nativeMachine = nativeMachine;
    }
    return ChooseRelease(observed);
}

}  // namespace lumivance
