// A stand-in for the real Lumivance installer in tests. It writes what it was started with to the file
// named by LUMIVANCE_FAKE_INSTALLER_REPORT (UTF-8, one "key=value" line each; "started" is the moment its
// entry ran, as GetSystemTimePreciseAsFileTime's 100 ns ticks, for the benchmark's launch-to-start), waits
// LUMIVANCE_FAKE_INSTALLER_WAIT_MS milliseconds if asked, and exits with LUMIVANCE_FAKE_INSTALLER_EXIT
// (decimal, the full 32 bits; 0 when unset). Everything comes through the inherited environment, because
// setup passes the installer no arguments.
#include <windows.h>

#include <cwchar>
#include <string>

#include "tools/utf8.h"

namespace {

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

void WriteReport(const std::wstring& reportPath, const FILETIME& started)
{
    wchar_t directory[MAX_PATH * 4] = {};
    GetCurrentDirectoryW(static_cast<DWORD>(std::size(directory)), directory);
    wchar_t image[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, image, static_cast<DWORD>(std::size(image)));

    ULARGE_INTEGER ticks{};
    ticks.LowPart = started.dwLowDateTime;
    ticks.HighPart = started.dwHighDateTime;
    const std::string report = "command_line=" + lumivance::tools::ToUtf8(GetCommandLineW()) + "\n" +
                               "current_directory=" + lumivance::tools::ToUtf8(directory) + "\n" +
                               "image=" + lumivance::tools::ToUtf8(image) + "\n" +
                               "echo=" + lumivance::tools::ToUtf8(Environment(L"LUMIVANCE_FAKE_INSTALLER_ECHO")) +
                               "\n" + "started=" + std::to_string(ticks.QuadPart) + "\n";
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
    if (const std::wstring report = Environment(L"LUMIVANCE_FAKE_INSTALLER_REPORT"); !report.empty()) {
        WriteReport(report, started);
    }
    if (const std::wstring wait = Environment(L"LUMIVANCE_FAKE_INSTALLER_WAIT_MS"); !wait.empty()) {
        Sleep(static_cast<DWORD>(std::wcstoul(wait.c_str(), nullptr, 10)));
    }
    const std::wstring exitCode = Environment(L"LUMIVANCE_FAKE_INSTALLER_EXIT");
    ExitProcess(exitCode.empty() ? 0U : static_cast<UINT>(std::wcstoul(exitCode.c_str(), nullptr, 10)));
}
