#include "worker/app_running.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <iterator>

#include "base/unique_resource_win.h"

namespace lumivance {

namespace {

// Long enough for any Win32 path, \\?\ forms included.
constexpr DWORD kImagePathCapacity = 32768;

// The whole value, however long: a profile folder can lie on a path of more than MAX_PATH characters, and a
// value cut at a fixed buffer would silently let the check pass while the app runs. "" when the variable is
// unset, empty or unreadable.
std::wstring ReadLocalAppData()
{
    constexpr const wchar_t* kName = L"LOCALAPPDATA";
    DWORD capacity = GetEnvironmentVariableW(kName, nullptr, 0);
    while (capacity != 0) {
        std::wstring value(capacity, L'\0');
        const DWORD written = GetEnvironmentVariableW(kName, value.data(), capacity);
        if (written < capacity) {
            value.resize(written);
            return value;
        }
        capacity = written;  // the variable grew between the two reads: ask again with the new size
    }
    return {};
}

// One Toolhelp walk: the snapshot and the entry the last name points into.
class ToolhelpSnapshot {
public:
    explicit ToolhelpSnapshot(FileHandle snapshot) : snapshot_(std::move(snapshot)) { entry_.dwSize = sizeof entry_; }

    std::optional<ProcessEntry> Next()
    {
        const BOOL listed =
            started_ ? Process32NextW(snapshot_.get(), &entry_) : Process32FirstW(snapshot_.get(), &entry_);
        started_ = true;
        if (!listed) {
            return std::nullopt;
        }
        return ProcessEntry{{entry_.szExeFile, wcsnlen(entry_.szExeFile, std::size(entry_.szExeFile))},
                            entry_.th32ProcessID};
    }

private:
    FileHandle snapshot_;
    PROCESSENTRY32W entry_{};
    bool started_ = false;
};

std::optional<ToolhelpSnapshot> TakeToolhelpSnapshot()
{
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return std::nullopt;
    }
    return ToolhelpSnapshot(std::move(snapshot));
}

std::optional<std::wstring> QueryImagePath(std::uint32_t processId)
{
    const KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return std::nullopt;
    }
    std::wstring image(kImagePathCapacity, L'\0');
    DWORD length = kImagePathCapacity;
    if (!QueryFullProcessImageNameW(process.get(), 0, image.data(), &length)) {
        return std::nullopt;
    }
    image.resize(wcsnlen(image.data(), image.size()));
    return image;
}

struct WindowsProcesses {
    using Snapshot = ToolhelpSnapshot;
    std::wstring LocalAppData() { return ReadLocalAppData(); }
    std::optional<ToolhelpSnapshot> TakeSnapshot() { return TakeToolhelpSnapshot(); }
    std::optional<std::wstring> ImagePath(std::uint32_t processId) { return QueryImagePath(processId); }
};

}  // namespace

bool IsAppRunning()
{
    WindowsProcesses system;
    return IsAppRunningWith(system);
}

}  // namespace lumivance
