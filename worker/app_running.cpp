#include "worker/app_running.h"

#include <stdexcept>

#include "base/ascii_letter.h"
#include "catalogue.h"
#include "worker/name_comparison.h"

namespace lumivance {

namespace {

constexpr std::wstring_view kAppFileName = L"Lumivance.exe";
constexpr std::wstring_view kInstallFolderName = L"Lumivance";

// The path-append rule: no separator after nothing, after a bare drive ("C:" names that drive's current
// directory) or after one that is already there.
bool JoinsWithoutSeparator(std::wstring_view base)
{
    const bool bareDrive = base.size() == 2 && IsAsciiLetter(base[0]) && base[1] == L':';
    return base.empty() || bareDrive || base.ends_with(L'\\') || base.ends_with(L'/');
}

}  // namespace

std::wstring ExpectedInstallDirectory(std::wstring_view localAppData)
{
    std::wstring directory(localAppData);
    if (!JoinsWithoutSeparator(localAppData)) {
        directory += L'\\';
    }
    directory += kInstallFolderName;
    directory += L'\\';
    return directory;
}

namespace app_running {

void RequireProcessList(bool obtained)
{
    if (!obtained) {
        throw std::runtime_error(kProcessListUnavailable);
    }
}

bool HasAppFileName(const ProcessEntry& entry) noexcept
{
    return EqualFoldingAsciiCase(entry.exeFileName, kAppFileName);
}

}  // namespace app_running

}  // namespace lumivance
