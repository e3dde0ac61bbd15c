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

// What one Toolhelp walk keeps: the snapshot and the entry the last name points into.
struct ToolhelpWalk {
    FileHandle snapshot;
    PROCESSENTRY32W entry{};
    bool started = false;
};

ProcessSnapshot TakeToolhelpSnapshot()
{
    FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        return nullptr;
    }
    auto walk = std::make_shared<ToolhelpWalk>();
    walk->snapshot = std::move(snapshot);
    walk->entry.dwSize = sizeof(walk->entry);
    return walk;
}

std::optional<ProcessEntry> NextToolhelpProcess(const ProcessSnapshot& snapshot)
{
    ToolhelpWalk& walk = *static_cast<ToolhelpWalk*>(snapshot.get());
    const BOOL listed = walk.started ? Process32NextW(walk.snapshot.get(), &walk.entry)
                                     : Process32FirstW(walk.snapshot.get(), &walk.entry);
    walk.started = true;
    if (!listed) {
        return std::nullopt;
    }
    return ProcessEntry{{walk.entry.szExeFile, wcsnlen(walk.entry.szExeFile, std::size(walk.entry.szExeFile))},
                        walk.entry.th32ProcessID};
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

}  // namespace

AppRunningCalls RealAppRunningCalls()
{
    return {
        .localAppData = ReadLocalAppData,
        .takeSnapshot = TakeToolhelpSnapshot,
        .nextProcess = NextToolhelpProcess,
        .imagePath = QueryImagePath,
    };
}

bool IsAppRunning()
{
    return IsAppRunningWith(RealAppRunningCalls());
}

}  // namespace lumivance
