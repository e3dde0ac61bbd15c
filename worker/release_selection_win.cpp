#include "worker/release_selection.h"

#include <windows.h>

namespace lumivance {

namespace {

// IsWow64Process2 arrived with Windows 10 1709: importing it would stop setup from even loading on older
// systems, which must instead fall back to GetNativeSystemInfo. The headers, told the oldest Windows setup
// runs on, do not declare it, so its type is spelled out as Windows 10's headers give it.
using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE process, USHORT* processMachine, USHORT* nativeMachine);

IsWow64Process2Function FindIsWow64Process2()
{
    const HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) {
        return nullptr;
    }
    const FARPROC found = GetProcAddress(kernel32, "IsWow64Process2");
    return reinterpret_cast<IsWow64Process2Function>(reinterpret_cast<void*>(found));
}

}  // namespace

const ReleaseAsset& SelectReleaseAsset()
{
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    ArchitectureObservations observed{.processorArchitecture = system.wProcessorArchitecture};

    const IsWow64Process2Function isWow64Process2 = FindIsWow64Process2();
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2 != nullptr && isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
        observed.nativeMachine = nativeMachine;
    }
    return ChooseRelease(observed);
}

}  // namespace lumivance
