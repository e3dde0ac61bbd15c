#include "tests/windows/running_copy.h"

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <chrono>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

#include "base/loaded_function_win.h"
#include "tests/windows/test_support.h"

namespace lumivance::testing {

namespace {

using std::filesystem::path;

// The image path Windows reports for a process, or nothing while it cannot be queried.
std::optional<std::wstring> ReportedImage(DWORD processId)
{
    const KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, image.data(), &length)) {
        return std::nullopt;
    }
    image.resize(length);
    return image;
}

bool ListedAs(DWORD processId, const std::wstring& exeFileName)
{
    const FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == processId) {
            return exeFileName == entry.szExeFile;
        }
    }
    return false;
}

template <typename Function>
Function NtdllFunction(const char* name)
{
    return LoadedFunction<Function>(L"ntdll.dll", name);
}

UNICODE_STRING Counted(std::wstring& text)
{
    const auto bytes = static_cast<USHORT>(text.size() * sizeof(wchar_t));
    return UNICODE_STRING{bytes, bytes, text.data()};
}

// Wine's CreateProcessW cannot start a program whose path is MAX_PATH characters or longer (it fails with
// ERROR_PATH_NOT_FOUND), while the process creation below it can; Windows offers the same call.
DWORD StartFromLongPath(const path& image, KernelHandle& started)
{
    using CreateParameters = NTSTATUS(NTAPI*)(RTL_USER_PROCESS_PARAMETERS**, UNICODE_STRING*, UNICODE_STRING*,
                                              UNICODE_STRING*, UNICODE_STRING*, void*, UNICODE_STRING*, UNICODE_STRING*,
                                              UNICODE_STRING*, UNICODE_STRING*, ULONG);
    using DestroyParameters = NTSTATUS(NTAPI*)(RTL_USER_PROCESS_PARAMETERS*);
    using CreateProcess = NTSTATUS(NTAPI*)(UNICODE_STRING*, ULONG, RTL_USER_PROCESS_PARAMETERS*, void*, void*, HANDLE,
                                           BOOLEAN, HANDLE, HANDLE, void*);
    struct ProcessInformation {
        ULONG length;
        HANDLE process;
        HANDLE thread;
        CLIENT_ID clientId;
        BYTE imageInformation[64];
    };
    constexpr ULONG kNormalized = 1;

    std::wstring win32Path = image.wstring();
    std::wstring ntPath = L"\\??\\" + win32Path;
    std::wstring commandLine = L"\"" + win32Path + L"\" 60000";
    // Not the program's own folder: the parameter block keeps only MAX_PATH characters of the current directory.
    std::wstring directory = image.root_path().wstring();
    UNICODE_STRING win32Name = Counted(win32Path), ntName = Counted(ntPath), arguments = Counted(commandLine),
                   currentDirectory = Counted(directory);
    RTL_USER_PROCESS_PARAMETERS* parameters = nullptr;
    if (NtdllFunction<CreateParameters>("RtlCreateProcessParametersEx")(&parameters, &win32Name, nullptr,
                                                                        &currentDirectory, &arguments, nullptr, nullptr,
                                                                        nullptr, nullptr, nullptr, kNormalized) != 0) {
        throw std::runtime_error("RtlCreateProcessParametersEx failed");
    }
    ProcessInformation info{};
    info.length = sizeof(info);
    const NTSTATUS status = NtdllFunction<CreateProcess>("RtlCreateUserProcess")(
        &ntName, OBJ_CASE_INSENSITIVE, parameters, nullptr, nullptr, nullptr, FALSE, nullptr, nullptr, &info);
    NtdllFunction<DestroyParameters>("RtlDestroyProcessParameters")(parameters);
    if (status != 0) {
        throw std::runtime_error("RtlCreateUserProcess failed: " + std::to_string(status));
    }
    started.reset(info.process);
    const KernelHandle thread(info.thread);
    ResumeThread(thread.get());  // created suspended
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info.clientId.UniqueProcess));
}

DWORD Start(const path& image, KernelHandle& started)
{
    if (image.wstring().size() >= MAX_PATH) {
        return StartFromLongPath(image, started);
    }
    std::wstring commandLine = L"\"" + image.wstring() + L"\" 60000";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(image.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        throw std::runtime_error("could not start " + ToUtf8(image.wstring()) + ", error " +
                                 std::to_string(GetLastError()));
    }
    started.reset(info.hProcess);
    CloseHandle(info.hThread);
    return info.dwProcessId;
}

}  // namespace

RunningCopy::RunningCopy(const path& image)
{
    std::filesystem::create_directories(image.parent_path());
    std::filesystem::copy_file(ToolPath(L"idle_app.exe"), image);
    const DWORD processId = Start(image, process_);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!(ListedAs(processId, image.filename().wstring()) && ReportedImage(processId) == image.wstring())) {
        if (std::chrono::steady_clock::now() > deadline) {
            const std::wstring reported = ReportedImage(processId).value_or(L"-");
            Stop();  // the destructor does not run for an object that was never made
            throw std::runtime_error("the process list never showed " + ToUtf8(image.wstring()) +
                                     " (reported: " + ToUtf8(reported) + ")");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

RunningCopy::~RunningCopy()
{
    Stop();
}

void RunningCopy::Stop() noexcept
{
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 10'000);
}

}  // namespace lumivance::testing
