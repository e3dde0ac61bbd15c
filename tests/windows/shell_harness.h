#pragma once

// Runs setup's shell around the scripted worker (setup_shell_fake_worker.exe, see scripted_worker_main.cpp)
// and reads what the worker logged.

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/windows/test_support.h"
#include "tools/ui_driver/ui_driver.h"

namespace lumivance::testing {

// Fails the current test unless windows can really be shown: without an X display Wine's
// TaskDialogIndirect returns S_OK at once and a dialog test could pass without any dialog.
void RequireDisplay();

// One line of the worker's log: "<GetTickCount64> <name> key=value ...".
struct WorkerEvent {
    std::uint64_t tick = 0;
    std::string name;
    std::map<std::string, std::string> fields;  // the error text is everything after "error="
};

// Setup's path for these tests.
std::filesystem::path FakeWorkerShellPath();

// One run of the shell: its own scratch directory for the worker's log and await files.
class ShellRun {
public:
    explicit ShellRun(const std::wstring& script, const std::filesystem::path& exe = FakeWorkerShellPath(),
                      std::vector<std::pair<std::wstring, std::wstring>> environment = {});

    ui::Program& program() { return program_; }
    const std::filesystem::path& directory() const { return scratch_.path(); }
    // Lets the worker past its await=name step.
    void Release(const std::wstring& name) const;
    std::vector<WorkerEvent> Events() const;
    std::vector<WorkerEvent> Events(const std::string& name) const;

private:
    ScratchDirectory scratch_;
    ui::Program program_;
};

// The environment the scripted worker reads.
std::vector<std::pair<std::wstring, std::wstring>> WorkerEnvironment(const std::wstring& script,
                                                                     const std::filesystem::path& directory);

std::vector<WorkerEvent> ReadWorkerLog(const std::filesystem::path& directory);

// Samples the program's screen until it has exited (or timeout), calling onScreen for every sample with
// the moment its reading was complete. Returns the exit code.
template <typename OnScreen>
std::optional<DWORD> WatchUntilExit(ui::Program& program, OnScreen onScreen,
                                    std::chrono::milliseconds timeout = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (program.Running() && std::chrono::steady_clock::now() < deadline) {
        const ui::Screen screen = program.Look();
        onScreen(screen, GetTickCount64());
        Sleep(15);
    }
    return program.WaitForExit(std::chrono::milliseconds(0));
}

}  // namespace lumivance::testing
