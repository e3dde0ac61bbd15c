#include "tests/windows/test_support.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

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
