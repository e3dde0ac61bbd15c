#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumivance {

// One process as a snapshot lists it: its executable's file name (no folder) and its ID.
struct ProcessEntry {
    std::wstring_view exeFileName;  // valid until the next entry is asked of the same snapshot
    std::uint32_t processId = 0;
};

// A picture of the running processes at one moment, walked once from its first entry. Whatever it holds is
// released with it.
class ProcessSnapshot {
public:
    virtual ~ProcessSnapshot() = default;
    // The next entry in snapshot order; nothing at the end of the list.
    virtual std::optional<ProcessEntry> Next() = 0;
};

// What the running-application check asks of the system.
struct AppRunningCalls {
    // The whole value of LOCALAPPDATA; "" when it is unset, empty or unreadable.
    std::function<std::wstring()> localAppData;
    // A picture of all processes; empty when the list cannot be obtained.
    std::function<std::unique_ptr<ProcessSnapshot>()> takeSnapshot;
    // The process's full image path in Win32 form; nothing when it cannot be opened for limited query or
    // queried (it may have exited since the picture was taken, or be protected).
    std::function<std::optional<std::wstring>(std::uint32_t processId)> imagePath;
};

// Toolhelp, OpenProcess and QueryFullProcessImageNameW (Windows).
AppRunningCalls RealAppRunningCalls();

// True while a copy of the per-user installation ("Lumivance.exe" below %LOCALAPPDATA%\Lumivance\) runs.
// Throws std::runtime_error with the user's sentence when the process list cannot be read.
bool IsAppRunning();

// The same check over the given calls: an empty LOCALAPPDATA answers false without taking a snapshot.
bool IsAppRunningWith(const AppRunningCalls& calls);

// The per-user install folder below the given local application-data folder, always ending in a
// backslash, so that a sibling folder whose name merely begins with "Lumivance" never matches.
std::wstring ExpectedInstallDirectory(std::wstring_view localAppData);

}  // namespace lumivance
