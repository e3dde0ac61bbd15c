// A stand-in for the real Lumivance installer in tests. It writes what it was started with to the file
// named by LUMIVANCE_FAKE_INSTALLER_REPORT (UTF-8, one "key=value" line each; "started" is the moment its
// entry ran, as GetSystemTimePreciseAsFileTime's 100 ns ticks, for the benchmark's launch-to-start), starts
// the command line in LUMIVANCE_FAKE_INSTALLER_STARTS if there is one (without waiting for it, in its own
// current directory, as an installer starts the application it has installed; "started_pid" reports it),
// waits LUMIVANCE_FAKE_INSTALLER_WAIT_MS milliseconds if asked, and exits with LUMIVANCE_FAKE_INSTALLER_EXIT
// (decimal, the full 32 bits; 0 when unset). Everything comes through the inherited environment, because
// setup passes the installer no arguments.
//
// Built a second time as lookalike_installer, a stranger's program put where setup's installer would be:
// the same program, reporting to LUMIVANCE_LOOKALIKE_REPORT instead, so a test can tell which of them ran.
#include <windows.h>

#include <cwchar>
#include <string>

#include "tools/utf8.h"

namespace {

#ifndef LUMIVANCE_REPORT_VARIABLE
#define LUMIVANCE_REPORT_VARIABLE L"LUMIVANCE_FAKE_INSTALLER_REPORT"
#endif
constexpr wchar_t kReportVariable[] = LUMIVANCE_REPORT_VARIABLE;

std::wstring Environment(const wchar_t* name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring value(needed, L'\0');
    const DWORD written = GetEnvironmentVariableW(name, value.data(), needed);
    value.resize(written);
    return value;
}

// Starts the command line and lets it run on; its process id, or 0 when it could not be started.
DWORD Start(std::wstring commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return process.dwProcessId;
}

void WriteReport(const std::wstring& reportPath, const FILETIME& started, DWORD startedPid)
{
    wchar_t directory[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(static_cast<DWORD>(std::size(directory)), directory);
    wchar_t image[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, image, static_cast<DWORD>(std::size(image)));

    ULARGE_INTEGER ticks{};
    ticks.LowPart = started.dwLowDateTime;
    ticks.HighPart = started.dwHighDateTime;
    std::string report;
    const auto line = [&report](const char* key, const std::string& value) {
        report += std::string(key) + "=" + value + "\n";
    };
    line("command_line", lumivance::tools::ToUtf8(GetCommandLineW()));
    line("current_directory", lumivance::tools::ToUtf8(directory));
    line("image", lumivance::tools::ToUtf8(image));
    line("echo", lumivance::tools::ToUtf8(Environment(L"LUMIVANCE_FAKE_INSTALLER_ECHO")));
    line("started", std::to_string(ticks.QuadPart));
    line("started_pid", std::to_string(startedPid));
    HANDLE file =
        CreateFileW(reportPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    FILETIME started{};
    GetSystemTimePreciseAsFileTime(&started);
    const std::wstring starts = Environment(L"LUMIVANCE_FAKE_INSTALLER_STARTS");
    const DWORD startedPid = starts.empty() ? 0 : Start(starts);
    if (const std::wstring report = Environment(kReportVariable); !report.empty()) {
        WriteReport(report, started, startedPid);
    }
    if (const std::wstring wait = Environment(L"LUMIVANCE_FAKE_INSTALLER_WAIT_MS"); !wait.empty()) {
        Sleep(static_cast<DWORD>(std::wcstoul(wait.c_str(), nullptr, 10)));
    }
    const std::wstring exitCode = Environment(L"LUMIVANCE_FAKE_INSTALLER_EXIT");
    ExitProcess(exitCode.empty() ? 0U : static_cast<UINT>(std::wcstoul(exitCode.c_str(), nullptr, 10)));
}
