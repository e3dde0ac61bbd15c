#include "worker/app_running.h"

#include <stdexcept>

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

bool IsAppRunningWith(const AppRunningCalls& calls)
{
    const std::wstring localAppData = calls.localAppData();
    if (localAppData.empty()) {
        return false;
    }
    const std::wstring installDirectory = ExpectedInstallDirectory(localAppData);
    // Held until the walk ends, whichever way it ends.
    const std::unique_ptr<ProcessSnapshot> snapshot = calls.takeSnapshot();
    if (!snapshot) {
        throw std::runtime_error(kProcessListUnavailable);
    }
    while (const std::optional<ProcessEntry> entry = snapshot->Next()) {
        // Opening every process would cost a handle per process; only a matching name is worth a look.
        if (!EqualFoldingAsciiCase(entry->exeFileName, kAppFileName)) {
            continue;
        }
        const std::optional<std::wstring> image = calls.imagePath(entry->processId);
        if (image && StartsWithFoldingAsciiCase(*image, installDirectory)) {
            return true;
        }
    }
    return false;
}

}  // namespace lumivance
