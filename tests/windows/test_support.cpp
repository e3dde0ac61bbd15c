#include "tests/windows/test_support.h"

#include <aclapi.h>
#include <sddl.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "base/loaded_function_win.h"
#include "base/unique_resource_win.h"

namespace lumivance::testing {

std::wstring EnvironmentValue(const wchar_t* name)
{
    const DWORD needed = GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0) {
        return {};
    }
    std::wstring value(needed, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), needed));
    return value;
}

std::filesystem::path ExecutableDirectory()
{
    std::wstring buffer(32768, L'\0');
    buffer.resize(GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size())));
    return std::filesystem::path(buffer).parent_path();
}

std::filesystem::path ToolPath(const wchar_t* fileName)
{
    // Test executables live in <build>/tests/<kind>/, the tools in <build>/tools/.
    return ExecutableDirectory().parent_path().parent_path() / L"tools" / fileName;
}

FileHandle OpenForReading(const std::filesystem::path& file)
{
    return FileHandle(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string ReadFileBytes(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, std::wstring> ReadInstallerReport(const std::filesystem::path& file)
{
    std::map<std::string, std::wstring> fields;
    std::istringstream lines(ReadFileBytes(file));
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) {
            fields[line.substr(0, equals)] = FromUtf8(line.substr(equals + 1));
        }
    }
    return fields;
}

ScopedEnvironment::ScopedEnvironment(const wchar_t* name, const std::wstring& value)
    : name_(name), old_(EnvironmentValue(name)), hadOld_(GetEnvironmentVariableW(name, nullptr, 0) != 0)
{
    SetEnvironmentVariableW(name, value.c_str());
}

ScopedEnvironment::~ScopedEnvironment()
{
    SetEnvironmentVariableW(name_.c_str(), hadOld_ ? old_.c_str() : nullptr);
}

ScratchDirectory::ScratchDirectory(const std::wstring& stem)
{
    GUID guid{};
    CoCreateGuid(&guid);
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    path_ = std::filesystem::temp_directory_path() / (stem + L"-" + text);
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace lumivance::testing

namespace lumivance::testing {
namespace {

// Wine's own translation of a Windows path to the Unix one ("" when there is none).
std::string UnixPathOf(const std::filesystem::path& file)
{
    using Translate = char*(CDECL*)(const wchar_t*);
    const auto translate = LoadedFunction<Translate>(L"kernel32.dll", "wine_get_unix_file_name");
    char* unixPath = translate ? translate(file.c_str()) : nullptr;
    if (unixPath == nullptr) {
        return "";
    }
    std::string text(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return text;
}

// Starts a Unix program (Wine starts those too). Wine reports 1 as its exit code whatever it was and may
// let the wait end before it has, so the callers watch for what it does.
std::string RunUnix(const std::wstring& commandLine)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return "could not start " + ToUtf8(commandLine) + ": error " + std::to_string(GetLastError());
    }
    const KernelHandle processHandle(process.hProcess);
    const KernelHandle threadHandle(process.hThread);
    WaitForSingleObject(processHandle.get(), INFINITE);
    return "";
}

std::wstring QuotedUnixPath(const std::filesystem::path& file)
{
    return L"\"" + FromUtf8(UnixPathOf(file)) + L"\"";
}

}  // namespace

std::wstring SecurityText(const std::filesystem::path& file)
{
    LocalMemory descriptor;
    constexpr SECURITY_INFORMATION kWhat = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, kWhat, nullptr, nullptr, nullptr, nullptr,
                              reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())) != ERROR_SUCCESS) {
        return L"";
    }
    LocalMemory text;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1, kWhat,
                                                              reinterpret_cast<LPWSTR*>(text.put()), nullptr)) {
        return L"";
    }
    return static_cast<const wchar_t*>(text.get());
}

std::string PlantUnixLink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    if (UnixPathOf(target).empty() || UnixPathOf(link).empty()) {
        return "Wine has no Unix path for the target or the link";
    }
    const std::string failure = RunUnix(L"/bin/ln -s " + QuotedUnixPath(target) + L" " + QuotedUnixPath(link));
    if (!failure.empty()) {
        return failure;
    }
    for (int look = 0; look < 100; ++look, Sleep(50)) {
        const DWORD attributes = GetFileAttributesW(link.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            return "";
        }
    }
    return "ln did not leave a link that Wine shows as a reparse point within 5 s";
}

std::filesystem::path FinalPathOf(const std::filesystem::path& file)
{
    const FileHandle opened(CreateFileW(file.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::wstring text(32768, L'\0');
    const DWORD length = opened ? GetFinalPathNameByHandleW(opened.get(), text.data(), static_cast<DWORD>(text.size()),
                                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                                : 0;
    text.resize(length < text.size() ? length : 0);
    constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
    return text.starts_with(kLongPrefix) ? text.substr(kLongPrefix.size()) : text;
}

std::string RepointUnixLink(const std::filesystem::path& target, const std::filesystem::path& link)
{
    const std::filesystem::path wanted = FinalPathOf(target);
    if (wanted.empty()) {
        return "the new target cannot be opened";
    }
    const std::string failure = RunUnix(L"/bin/ln -sfn " + QuotedUnixPath(target) + L" " + QuotedUnixPath(link));
    if (!failure.empty()) {
        return failure;
    }
    for (int look = 0; look < 100; ++look, Sleep(20)) {
        if (FinalPathOf(link) == wanted) {
            return "";
        }
    }
    return "the link did not lead to its new target within 2 s";
}

std::string RemoveUnixLink(const std::filesystem::path& link)
{
    const std::string failure = RunUnix(L"/bin/rm " + QuotedUnixPath(link));
    if (!failure.empty()) {
        return failure;
    }
    for (int look = 0; look < 100; ++look, Sleep(50)) {
        if (GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return "";
        }
    }
    return "rm left the link in place for 5 s";
}

}  // namespace lumivance::testing
