// Setup's real entry, progress dialog and resources around a scripted worker, for the shell's own UI tests:
// SetupMainWith runs this file's ScriptedRunInstall where the product runs RunInstall.
//
// LUMIVANCE_FAKE_WORKER  the attempts, separated by '|', each a list of steps separated by ','. Attempt N
//                        runs the N-th list; the last list also serves every later attempt.
//   progress=N       progressPercent = N          phase=download|verify|install
//   sleep=MS         wait                         await=NAME   wait until the file NAME exists in DIR
//   await-cancel     wait until cancelRequested   check        stop as a cancel if cancelRequested
//   note             log the state                exit=N       exitCode = N (the installer's code)
//   error=TEXT       fail with TEXT               cleanup=MS   the clean-up before finished takes MS
//   load-dlls        call into winhttp.dll and version.dll (both delay-loaded) and log where they came from
// LUMIVANCE_FAKE_WINDOW_STATION_FLAGS  the window station's flags setup is told, in place of the real ones
//                        (0: a station nobody sees, as a service's).
// LUMIVANCE_FAKE_WORKER_DIR  where worker.log is appended (one line per event, stamped with
//                        GetTickCount64) and where await looks for its files.
// Waits give up after a minute and fail the attempt, so a test that forgets to release one cannot hang.
#include <windows.h>
#include <winhttp.h>
#include <winver.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/setup_main_win.h"
#include "tests/windows/test_support.h"

namespace lumivance {
namespace {

using namespace std::chrono_literals;

constexpr auto kLongestWait = 60s;
constexpr std::uint32_t kExitCancelled = 1223;

struct CancelledByScript {};
struct FailedByScript {
    std::wstring text;
};

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos) {
            return parts;
        }
        start = end + 1;
    }
}

std::filesystem::path WorkerDirectory()
{
    return testing::EnvironmentValue(L"LUMIVANCE_FAKE_WORKER_DIR");
}

void Log(const std::wstring& line)
{
    const std::filesystem::path directory = WorkerDirectory();
    if (directory.empty()) {
        return;
    }
    const std::string text = std::to_string(GetTickCount64()) + " " + testing::ToUtf8(line) + "\n";
    HANDLE file = CreateFileW((directory / L"worker.log").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring Describe(const InstallState& state)
{
    return L"cancel=" + std::to_wstring(state.cancelRequested.load()) + L" finished=" +
           std::to_wstring(state.finished.load()) + L" progress=" + std::to_wstring(state.progressPercent.load()) +
           L" phase=" + std::to_wstring(static_cast<int>(state.phase.load())) + L" exit=" +
           std::to_wstring(state.exitCode) + L" error=" + state.errorText;
}

template <typename Done>
void WaitUntil(Done done, const std::wstring& what)
{
    const auto deadline = std::chrono::steady_clock::now() + kLongestWait;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            throw FailedByScript{L"The fake worker waited in vain for " + what + L"."};
        }
        std::this_thread::sleep_for(10ms);
    }
}

std::wstring ModulePath(const wchar_t* name)
{
    const HMODULE module = GetModuleHandleW(name);
    if (module == nullptr) {
        return L"(not loaded)";
    }
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(module, path, static_cast<DWORD>(std::size(path)));
    return path;
}

void LoadDlls()
{
    // Both are delay-loaded: these calls are what loads them, long after wWinMain has hardened the search.
    WinHttpCheckPlatform();
    DWORD ignored = 0;
    GetFileVersionInfoSizeW(L"kernel32.dll", &ignored);
    Log(L"loaded winhttp=" + ModulePath(L"winhttp.dll") + L" version=" + ModulePath(L"version.dll"));
}

void RunStep(InstallState& state, const std::wstring& step, DWORD& cleanupMs)
{
    const std::size_t equals = step.find(L'=');
    const std::wstring name = step.substr(0, equals);
    const std::wstring value = equals == std::wstring::npos ? L"" : step.substr(equals + 1);
    const auto number = [&value] { return static_cast<std::uint32_t>(std::wcstoul(value.c_str(), nullptr, 10)); };

    if (name == L"progress") {
        state.progressPercent.exchange(static_cast<std::int32_t>(number()));
    } else if (name == L"phase") {
        const InstallPhase phase = value == L"install"  ? InstallPhase::Installing
                                   : value == L"verify" ? InstallPhase::Verifying
                                                        : InstallPhase::Downloading;
        state.phase.exchange(phase);
    } else if (name == L"sleep") {
        Sleep(number());
    } else if (name == L"await") {
        const std::filesystem::path file = WorkerDirectory() / value;
        WaitUntil([&file] { return std::filesystem::exists(file); }, value);
    } else if (name == L"await-cancel") {
        WaitUntil([&state] { return state.cancelRequested.load(); }, L"a cancel");
    } else if (name == L"check") {
        if (state.cancelRequested.load()) {
            throw CancelledByScript{};
        }
    } else if (name == L"note") {
        Log(L"note " + Describe(state));
    } else if (name == L"exit") {
        state.exitCode = number();
    } else if (name == L"error") {
        throw FailedByScript{value};
    } else if (name == L"cleanup") {
        cleanupMs = number();
    } else if (name == L"load-dlls") {
        LoadDlls();
    } else if (!name.empty()) {
        throw FailedByScript{L"The fake worker has no step " + step + L"."};
    }
}

std::atomic<int> attempts{0};

void ScriptedRunInstall(InstallState* state)
{
    const int attempt = ++attempts;
    Log(L"start attempt=" + std::to_wstring(attempt) + L" thread=" + std::to_wstring(GetCurrentThreadId()) + L" " +
        Describe(*state));

    const std::vector<std::wstring> scripts = Split(testing::EnvironmentValue(L"LUMIVANCE_FAKE_WORKER"), L'|');
    const std::wstring& script = scripts[std::min<std::size_t>(static_cast<std::size_t>(attempt), scripts.size()) - 1];
    DWORD cleanupMs = 0;
    try {
        for (const std::wstring& step : Split(script, L',')) {
            RunStep(*state, step, cleanupMs);
        }
    } catch (const CancelledByScript&) {
        Log(L"cancelled");
        state->exitCode = kExitCancelled;
    } catch (const FailedByScript& failure) {
        state->errorText = failure.text;
    }
    Sleep(cleanupMs);
    Log(L"finished " + Describe(*state));
    state->finished.exchange(true);
}

// The scripted worker, the window station's flags the test names, and no sweep: the shell's tests leave the
// temp folder alone.
struct ScriptedSetup {
    void RemoveLeftovers() {}
    void RunInstall(InstallState* state) { ScriptedRunInstall(state); }
    std::uint32_t WindowStationFlags()
    {
        const std::wstring flags = testing::EnvironmentValue(L"LUMIVANCE_FAKE_WINDOW_STATION_FLAGS");
        return flags.empty() ? ProcessWindowStationFlags() : static_cast<std::uint32_t>(std::stoul(flags));
    }
};

}  // namespace
}  // namespace lumivance

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    lumivance::ScriptedSetup setup;
    return lumivance::SetupMainWith(setup);
}
