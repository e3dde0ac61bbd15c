#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "worker/name_comparison.h"

namespace lumivance {

// One process as a snapshot lists it: its executable's file name (no folder) and its ID.
struct ProcessEntry {
    std::wstring_view exeFileName;  // valid until the next entry is asked of the same snapshot
    std::uint32_t processId = 0;
};

// The per-user install folder below the given local application-data folder, always ending in a
// backslash, so that a sibling folder whose name merely begins with "Lumivance" never matches.
std::wstring ExpectedInstallDirectory(std::wstring_view localAppData);

// A picture of the running processes at one moment, walked once from its first entry. Whatever it holds is
// released with it.
template <typename Snapshot>
concept ProcessSnapshot = requires(Snapshot& snapshot)
{
    // The next entry in snapshot order; nothing at the end of the list.
    requires std::same_as<decltype(snapshot.Next()), std::optional<ProcessEntry>>;
};

// What the running-application check asks of the system.
template <typename System>
concept AppRunningSystem = ProcessSnapshot<typename System::Snapshot> &&
    requires(System& system, std::uint32_t processId)
{
    // The whole value of LOCALAPPDATA; "" when it is unset, empty or unreadable.
    requires std::same_as<decltype(system.LocalAppData()), std::wstring>;
    // A picture of all processes; nothing when the list cannot be obtained.
    requires std::same_as<decltype(system.TakeSnapshot()), std::optional<typename System::Snapshot>>;
    // The process's full image path in Win32 form; nothing when it cannot be opened for limited query or
    // queried (it may have exited since the picture was taken, or be protected).
    requires std::same_as<decltype(system.ImagePath(processId)), std::optional<std::wstring>>;
};

// True while a copy of the per-user installation ("Lumivance.exe" below %LOCALAPPDATA%\Lumivance\) runs.
// Throws std::runtime_error with the user's sentence when the process list cannot be read (Windows: Toolhelp,
// OpenProcess and QueryFullProcessImageNameW).
bool IsAppRunning();

namespace app_running {

// Throws the user's sentence unless the process list was obtained.
void RequireProcessList(bool obtained);
// Whether a process has the app's file name (only such a one is worth opening).
bool HasAppFileName(const ProcessEntry& entry) noexcept;

}  // namespace app_running

// The same check over the given system: an empty LOCALAPPDATA answers false without taking a snapshot.
template <AppRunningSystem System>
bool IsAppRunningWith(System& system)
{
    const std::wstring localAppData = system.LocalAppData();
    if (localAppData.empty()) {
        return false;
    }
    const std::wstring installDirectory = ExpectedInstallDirectory(localAppData);
    // Held until the walk ends, whichever way it ends.
    std::optional<typename System::Snapshot> snapshot = system.TakeSnapshot();
    app_running::RequireProcessList(snapshot.has_value());
    while (const std::optional<ProcessEntry> entry = snapshot->Next()) {
        // Opening every process would cost a handle per process; only a matching name is worth a look.
        if (!app_running::HasAppFileName(*entry)) {
            continue;
        }
        const std::optional<std::wstring> image = system.ImagePath(entry->processId);
        if (image && StartsWithFoldingAsciiCase(*image, installDirectory)) {
            return true;
        }
    }
    return false;
}

}  // namespace lumivance
