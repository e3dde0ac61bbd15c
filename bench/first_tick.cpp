// first_tick RUNS EXE...: for bench/first-tick, how long each setup exe takes from its launch to its progress
// dialog and to the dialog's first timer tick, the EXEs taking turns within each run (in an order turned by
// one each run), so that all of them are measured under the same load of a shared machine. Each EXE is an
// end-to-end variant (the test host's port compiled in) run inside tools/download_host.py, which is told to
// drip the body, so that the worker is still downloading at the first tick.
// The first tick is seen through Cancel: pressed as soon as the dialog is seen, it only records the wish,
// and the next tick shows "Canceling…" (or closes the dialog, when the worker has unwound by then). Prints
// one line per launch, then the medians:
//   exe=<path> run=<n> dialog_ms=<ms> first_tick_ms=<ms> exit=<code>
//   median exe=<path> dialog_ms=<ms> first_tick_ms=<ms>
// Exits 1 when a launch did not end with setup's cancel code, 1223.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tools/ui_driver/ui_driver.h"

namespace {

using namespace lumivance;
using Clock = std::chrono::steady_clock;

struct Launch {
    double dialogMs = -1;
    double firstTickMs = -1;
    DWORD exitCode = 0;
};

double Since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Launch Measure(const std::filesystem::path& exe)
{
    Launch launch;
    const Clock::time_point start = Clock::now();
    ui::Program setup(exe);
    bool pressed = false;
    while (setup.Running() && launch.firstTickMs < 0 && Since(start) < 30'000) {
        Sleep(5);  // a few reads fewer, for a setup that shares two cores with this loop
        const ui::Screen screen = setup.Look();
        if (!pressed && screen.dialog) {
            launch.dialogMs = Since(start);
            ui::PressCancel(*screen.dialog);
            pressed = true;
        } else if (pressed && (!screen.dialog || screen.dialog->content == L"Canceling\u2026")) {
            // The tick shows the cancel, or closes the dialog when the worker has already unwound.
            launch.firstTickMs = Since(start);
        }
    }
    launch.exitCode = setup.WaitForExit(std::chrono::seconds(30)).value_or(STILL_ACTIVE);
    return launch;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::fputs("usage: first_tick RUNS EXE...\n", stderr);
        return 2;
    }
    const int runs = _wtoi(argv[1]);
    const std::vector<std::filesystem::path> exes(argv + 2, argv + argc);
    wchar_t scenario[MAX_PATH * 2] = {};
    if (!GetEnvironmentVariableW(L"LUMIVANCE_SCENARIO_FILE", scenario, MAX_PATH * 2)) {
        std::fputs("first_tick: run me inside tools/download_host.py\n", stderr);
        return 2;
    }
    std::ofstream(std::filesystem::path(L"Z:" + std::wstring(scenario))) << "drip 20000000\n";

    const ui::PrivateDesktop desktop;
    std::map<std::wstring, std::vector<double>> dialog, tick;
    bool allCancelled = true;
    for (int run = 1; run <= runs; ++run) {
        for (size_t i = 0; i < exes.size(); ++i) {
            const std::filesystem::path& exe = exes[(i + run) % exes.size()];
            const Launch launch = Measure(exe);
            std::printf("exe=%ls run=%d dialog_ms=%.1f first_tick_ms=%.1f exit=%lu\n", exe.c_str(), run,
                        launch.dialogMs, launch.firstTickMs, static_cast<unsigned long>(launch.exitCode));
            std::fflush(stdout);
            allCancelled &= launch.exitCode == 1223;
            dialog[exe.wstring()].push_back(launch.dialogMs);
            tick[exe.wstring()].push_back(launch.firstTickMs);
        }
    }
    for (const auto& exe : exes) {
        std::printf("median exe=%ls dialog_ms=%.1f first_tick_ms=%.1f\n", exe.c_str(), Median(dialog[exe.wstring()]),
                    Median(tick[exe.wstring()]));
    }
    return allCancelled ? 0 : 1;
}
