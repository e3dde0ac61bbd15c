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
    std::wstring_view exeFileName;  // valid until the snapshot's next Next()
    std::uint32_t processId = 0;
};

// A picture of the running processes at one moment, walked once from its first entry. Whatever it holds is
// released when it is destroyed.
class ProcessSnapshot {
public:
    virtual ~ProcessSnapshot() = default;
    // The next entry in snapshot order; nothing at the end of the list.
    virtual std::optional<ProcessEntry> Next() = 0;
    // The process's full image path in Win32 form; nothing when it cannot be opened for limited query or
    // queried (it may have exited since the picture was taken, or be protected).
    virtual std::optional<std::wstring> ImagePath(std::uint32_t processId) = 0;
};

// Takes a picture of all processes; null when the list cannot be obtained.
using TakeProcessSnapshot = std::function<std::unique_ptr<ProcessSnapshot>()>;

// The per-user install folder below the given local application-data folder, always ending in a
// backslash, so that a sibling folder whose name merely begins with "Lumivance" never matches.
std::wstring ExpectedInstallDirectory(std::wstring_view localAppData);

// The running-application check for a given value of LOCALAPPDATA: an empty value answers false without
// taking a snapshot; a snapshot that cannot be taken throws std::runtime_error with the user's sentence.
bool IsAppRunningWith(std::wstring_view localAppData, const TakeProcessSnapshot& takeSnapshot);

}  // namespace lumivance
