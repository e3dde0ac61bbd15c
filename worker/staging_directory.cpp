#include "worker/staging_directory.h"

namespace lumivance {
namespace {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}": where the dashes go, everything else a capital hex digit.
constexpr std::wstring_view kGuidShape = L"{........-....-....-....-............}";
constexpr auto kYoungestEmptyLeftover = std::chrono::minutes(1);

bool IsCapitalHexDigit(wchar_t unit) noexcept
{
    return (unit >= L'0' && unit <= L'9') || (unit >= L'A' && unit <= L'F');
}

bool MatchesGuidShape(std::wstring_view text) noexcept
{
    if (text.size() != kGuidShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool matches = kGuidShape[i] == L'.' ? IsCapitalHexDigit(text[i]) : text[i] == kGuidShape[i];
        if (!matches) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsStagingDirectoryName(std::wstring_view name) noexcept
{
    return name.starts_with(kStagingDirectoryPrefix) && MatchesGuidShape(name.substr(kStagingDirectoryPrefix.size()));
}

bool MayRemoveAbandoned(const std::vector<ListedEntry>& entries, std::chrono::seconds age) noexcept
{
    if (entries.empty()) {
        return age >= kYoungestEmptyLeftover;
    }
    const ListedEntry& only = entries.front();
    // The exact name, as setup writes it: a listing shows names as they were created.
    return entries.size() == 1 && only.name == kStagingFileName && !only.isDirectory && !only.isReparsePoint;
}

}  // namespace lumivance
