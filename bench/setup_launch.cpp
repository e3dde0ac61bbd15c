// setup_launch SETUP WORK_DIR: one timed run of a setup exe for bench/setup-bench, then one result line:
//   exit=<code> dialog=<seen|never> launch_to_installer_ms=<ms> launch_to_exit_ms=<ms>
//   peak_working_set=<bytes>
// SETUP runs on a desktop of its own (its task dialog needs a display: see ui::PrivateDesktop), with its
// temp and local application-data folders inside WORK_DIR and the fake installer's report written there.
// Both ends of launch_to_installer_ms are GetSystemTimePreciseAsFileTime readings, one clock for both
// processes: the launch just before CreateProcess, the installer's start from the report's "started" line.
// Exits 1 unless setup exited 0 after its installer ran and its dialog was seen.
#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "base/unique_resource_win.h"
#include "tools/ui_driver/ui_driver.h"

namespace {

using namespace lumivance;

std::uint64_t PreciseNow()
{
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    return (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

double Milliseconds(std::uint64_t from, std::uint64_t to)
{
    return static_cast<double>(to - from) / 10'000.0;
}

// The installer's "started" reading, or nothing when it never wrote its report.
std::optional<std::uint64_t> InstallerStarted(const std::filesystem::path& report)
{
    std::ifstream input(report);
    for (std::string line; std::getline(input, line);) {
        if (line.starts_with("started=")) {
            return std::stoull(line.substr(8));
        }
    }
    return std::nullopt;
}

// The process's peak working set so far, 0 when Windows (or Wine) cannot tell.
std::uint64_t PeakWorkingSet(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    return GetProcessMemoryInfo(process, &memory, sizeof memory) ? memory.PeakWorkingSetSize : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fwprintf(stderr, L"usage: setup_launch SETUP WORK_DIR\n");
        return 2;
    }
    const std::filesystem::path setup = argv[1];
    const std::filesystem::path work = argv[2];
    const std::filesystem::path temp = work / L"temp";
    const std::filesystem::path local = work / L"local";
    const std::filesystem::path report = work / L"installer-report.txt";
    try {
        std::filesystem::create_directories(temp);
        std::filesystem::create_directories(local);
        std::filesystem::remove(report);

        const ui::PrivateDesktop desktop;
        const std::uint64_t launched = PreciseNow();
        ui::Program program(setup, {.environment = {{L"TMP", temp.wstring()},
                                                    {L"TEMP", temp.wstring()},
                                                    {L"LOCALAPPDATA", local.wstring()},
                                                    {L"LUMIVANCE_FAKE_INSTALLER_REPORT", report.wstring()}}});
        // A handle of our own, for the memory counters, which ui::Program does not expose.
        const KernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, program.Id()));
        if (!process) {
            throw std::runtime_error("cannot open setup's process (error " + std::to_string(GetLastError()) + ")");
        }

        // Sampled while setup runs: for a process that has ended, Wine's GetProcessMemoryInfo succeeds but
        // reports a peak working set of 0 (Windows keeps the final counters). The dialog is looked for only
        // until it has been seen, so that reading windows does not slow setup down.
        std::uint64_t peak = 0;
        bool dialogSeen = false;
        ULONGLONG nextLook = 0;
        while (WaitForSingleObject(process.get(), 10) == WAIT_TIMEOUT) {
            peak = std::max(peak, PeakWorkingSet(process.get()));
            if (!dialogSeen && GetTickCount64() >= nextLook) {
                dialogSeen = program.Look().dialog.has_value();
                nextLook = GetTickCount64() + 100;
            }
        }
        const std::uint64_t exited = PreciseNow();
        peak = std::max(peak, PeakWorkingSet(process.get()));
        const DWORD exitCode = program.WaitForExit(std::chrono::milliseconds(0)).value_or(STILL_ACTIVE);

        const std::optional<std::uint64_t> started = InstallerStarted(report);
        std::printf("exit=%lu dialog=%s launch_to_installer_ms=%.1f launch_to_exit_ms=%.1f peak_working_set=%llu\n",
                    static_cast<unsigned long>(exitCode), dialogSeen ? "seen" : "never",
                    started ? Milliseconds(launched, *started) : -1.0, Milliseconds(launched, exited),
                    static_cast<unsigned long long>(peak));
        return exitCode == 0 && started && dialogSeen ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "setup_launch: %s\n", error.what());
        return 1;
    }
}
