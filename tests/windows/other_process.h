#pragma once

// A second process (tools/file_tool.exe) acting on a file: sharing rules and locks only show between
// processes honestly, and a test that opened the file itself would prove nothing about another program.

#include <windows.h>

#include <filesystem>
#include <string>

#include "base/unique_resource_win.h"

namespace lumivance::testing {

// Runs file_tool with the arguments and returns its exit code: 0 when the operation succeeded, otherwise
// the Windows error code of the step that failed.
DWORD RunFileTool(const std::wstring& arguments);

// Quotes one command-line argument.
std::wstring Quoted(const std::filesystem::path& file);

// Another process holding the file open ("exclusive" or "writer", see file_tool) from construction
// until destruction.
class FileHeldByAnotherProcess {
public:
    FileHeldByAnotherProcess(const wchar_t* how, const std::filesystem::path& file);
    ~FileHeldByAnotherProcess();
    FileHeldByAnotherProcess(const FileHeldByAnotherProcess&) = delete;
    FileHeldByAnotherProcess& operator=(const FileHeldByAnotherProcess&) = delete;

    // Empty once the other process holds the file; otherwise why it does not.
    const std::string& failure() const { return failure_; }

private:
    KernelHandle ready_;
    KernelHandle release_;
    KernelHandle process_;
    std::string failure_;
};

}  // namespace lumivance::testing
