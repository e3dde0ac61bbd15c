#include "tests/windows/other_process.h"

#include <objbase.h>

#include "tests/windows/test_support.h"

namespace lumivance::testing {
namespace {

constexpr DWORD kToolTimeoutMs = 20000;

KernelHandle StartFileTool(const std::wstring& arguments)
{
    const std::filesystem::path tool = ToolPath(L"file_tool.exe");
    std::wstring commandLine = Quoted(tool) + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(tool.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        return KernelHandle{};
    }
    CloseHandle(process.hThread);
    return KernelHandle(process.hProcess);
}

std::wstring UniqueEventStem()
{
    GUID guid{};
    CoCreateGuid(&guid);
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return std::wstring(L"Local\\LumivanceFileTool") + text;
}

}  // namespace

std::wstring Quoted(const std::filesystem::path& file)
{
    return L"\"" + file.wstring() + L"\"";
}

DWORD RunFileTool(const std::wstring& arguments)
{
    const KernelHandle process = StartFileTool(arguments);
    if (!process) {
        return ERROR_FILE_NOT_FOUND;
    }
    if (WaitForSingleObject(process.get(), kToolTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), ERROR_TIMEOUT);
        return ERROR_TIMEOUT;
    }
    DWORD code = ERROR_INVALID_FUNCTION;
    GetExitCodeProcess(process.get(), &code);
    return code;
}

FileHeldByAnotherProcess::FileHeldByAnotherProcess(const wchar_t* how, const std::filesystem::path& file)
{
    const std::wstring events = UniqueEventStem();
    ready_.reset(CreateEventW(nullptr, TRUE, FALSE, (events + L".ready").c_str()));
    release_.reset(CreateEventW(nullptr, TRUE, FALSE, (events + L".release").c_str()));
    process_ = StartFileTool(std::wstring(L"hold ") + how + L" " + Quoted(file) + L" " + events);
    if (!ready_ || !release_ || !process_) {
        failure_ = "file_tool.exe could not be started";
        return;
    }
    const HANDLE either[] = {ready_.get(), process_.get()};
    switch (WaitForMultipleObjects(2, either, FALSE, kToolTimeoutMs)) {
    case WAIT_OBJECT_0:
        return;
    case WAIT_OBJECT_0 + 1: {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        failure_ = "file_tool.exe could not hold the file: error " + std::to_string(code);
        return;
    }
    default:
        failure_ = "file_tool.exe did not report that it holds the file";
    }
}

FileHeldByAnotherProcess::~FileHeldByAnotherProcess()
{
    if (release_) {
        SetEvent(release_.get());
    }
    if (process_ && WaitForSingleObject(process_.get(), kToolTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.get(), ERROR_TIMEOUT);
        WaitForSingleObject(process_.get(), kToolTimeoutMs);
    }
}

}  // namespace lumivance::testing
