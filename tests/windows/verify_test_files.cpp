#include "tests/windows/verify_test_files.h"

#include <fstream>
#include <stdexcept>

#include "tests/windows/test_support.h"

namespace lumivance::testing {

std::filesystem::path DigestSample(std::uint64_t length)
{
    return ExecutableDirectory() / L"digest_samples" / (L"bytes-" + std::to_wstring(length));
}

std::filesystem::path TestInstaller(const wchar_t* name)
{
    return ToolPath(L"test_installers") / name;
}

std::string Sha256sumOf(const std::filesystem::path& file)
{
    // sha256sum -b writes "<64 hex digits> *<name>" per line.
    std::ifstream sums(file.parent_path() / L"SHA256SUMS");
    const std::string name = ToUtf8(file.filename().wstring());
    for (std::string line; std::getline(sums, line);) {
        if (line.size() > 66 && line.compare(66, std::string::npos, name) == 0) {
            return line.substr(0, 64);
        }
    }
    throw std::runtime_error("no sha256sum digest for " + ToUtf8(file.wstring()) + " (was the build complete?)");
}

PinnedRow::PinnedRow(const std::filesystem::path& file) : PinnedRow(Sha256sumOf(file), std::filesystem::file_size(file))
{
}

PinnedRow::PinnedRow(std::string sha256, std::uint64_t size)
    : sha256Hex(std::move(sha256)), row{L"/downloads/win/x64/LumivanceSetup-0.3.20.exe", sha256Hex.c_str(), size}
{
}

}  // namespace lumivance::testing
